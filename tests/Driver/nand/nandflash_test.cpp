// NAND flash reads through the sector table, the ECC words, and the reads that must fail.
#include "Driver/nand/nandflash.h"

#include "tests/Driver/driver_test.h"
#include "tests/support/bringup_fixture.h"

using namespace driver_test;
using testing_support::BringUpTest;

namespace {

// The factory layout: the glue image of the second bank.
constexpr u32 GLUE = 0x080C0000;

u32 physical(u32 logical) { return (logical / NAND_BLOCK + NAND_FIRST_DATA_BLOCK) * NAND_BLOCK + logical % NAND_BLOCK; }

std::vector<u8> flashBytes(u32 logical, u32 n) {
  const u8* p = nandFlash() + physical(logical);
  return std::vector<u8>(p, p + n);
}

class NandTest : public BringUpTest {
 protected:
  std::vector<u32> buf = std::vector<u32>(0x40000 / 4);
  int read(u32 adr, int maxBytes = 0x40000) { return mxNandRead(adr, buf.data(), maxBytes); }
  bool matchesFlash(u32 adr, u32 n) {
    auto expect = flashBytes(adr, n);
    return std::memcmp(buf.data(), expect.data(), n) == 0;
  }
};

TEST(NandEcc, StatusWordsAsTheTableClassifiesThem) {
  struct Case { u32 e; MxNandEcc result; u32 position; } cases[] = {
      {0x0000, MxNandEcc::None, 0},           {0xF123, MxNandEcc::None, 0},  // bits 12-15 all set
      {0x0020, MxNandEcc::EccOnly, 0},        {0x0800, MxNandEcc::EccOnly, 0},  // one bit: the ECC itself
      {0x0006, MxNandEcc::Uncorrectable1, 0},  // bit 0 clear, position bits set
      {0x0043, MxNandEcc::Uncorrectable2, 0},  // bit 11 not the parity of bits 0-10
      {0x0843, MxNandEcc::Corrected, 33},     {0x03FF, MxNandEcc::Corrected, 511},
      {0x0401, MxNandEcc::Uncorrectable3, 0}, {0x0C03, MxNandEcc::Uncorrectable3, 0}};  // positions 512, 513
  for (const Case& c : cases) {
    u32 p = 0;
    EXPECT_EQ(mxNandCheckEcc(c.e, &p), c.result) << std::hex << c.e;
    EXPECT_TRUE(c.result != MxNandEcc::Corrected || p == c.position) << std::hex << c.e;
  }
}

TEST_F(NandTest, ImagesLongerThanABlockAreReadWhole) {
  // An image of 0x30000 bytes in logical sector 200, behind a table with bad blocks, so that its
  // two blocks are not neighbours.
  const u32 bad[] = {206, 207, 208};
  nandWriteTable(nandFlash(), 0, NAND_BLOCKS - NAND_FIRST_DATA_BLOCK - 3, NAND_TABLE_MAGIC, bad, 3);
  mxNandForgetTable();
  std::vector<u32> image(0x30000 / 4);
  for (u32 i = 0; i < image.size(); ++i) image[i] = i * 2654435761u;
  image[0] = 0x30000;
  nandWriteLogical(nandFlash(), 200 * NAND_BLOCK, image.data(), 0x30000);
  ASSERT_EQ(read(200 * NAND_BLOCK), 0x30000);
  EXPECT_EQ(std::memcmp(buf.data(), image.data(), 0x30000), 0);
  EXPECT_EQ(mxNandPhysicalAddress(202 * NAND_BLOCK) >> 17, 209u);
  EXPECT_EQ(mxNandLogicalAddress(209u << 17 | 0x40), 202u * NAND_BLOCK + 0x40);
}

TEST_F(NandTest, SingleBitErrorsAreCorrectedAndReportedThreeTimes) {
  // p = 33: bit 1 of word 1 of unit 2 of the first page.
  nandInjectBitError(physical(GLUE) + 2 * 64 + 4, 1);
  // Four more in later pages; the ECC of unit 0 of page 3 reports only itself.
  nandInjectBitError(physical(GLUE) + 2048 + 8, 7);
  nandInjectBitError(physical(GLUE) + 4096 + 60, 31);
  nandInjectEcc(physical(GLUE) / NAND_PAGE + 3, 0, 0x0010);
  nandInjectBitError(physical(GLUE) + 4 * 2048 + 128, 3);
  int len = read(GLUE);
  ASSERT_GT(len, 0);
  EXPECT_TRUE(matchesFlash(GLUE, static_cast<u32>(len)));
  char line[96];
  std::snprintf(line, sizeof line, "NAND Flash: ECC corrected %08x(021) ", GLUE + 2 * 64 + 4);
  // The fifth correction says nothing; the data is right all the same.
  EXPECT_EQ(consoleCounts({line, "[WARN] NAND Flash: ECC corrected ", "[ERR] NAND Flash: ECC corrected more than 3 times",
                           "ECC corrected"}), (std::vector<int>{1, 3, 1, 4}))
      << consoleText();
  // The count starts again with the next read.
  testing_support::consoleClear();
  ASSERT_GT(read(GLUE), 0);
  EXPECT_EQ(consoleCount("[WARN] NAND Flash: ECC corrected "), 3);
}

TEST_F(NandTest, UncorrectableWordsFailTheRead) {
  const u16 ecc[] = {0x0006, 0x0043, 0x0401};
  for (int k = 0; k < 3; ++k) {
    testing_support::consoleClear();
    nandClearFaults();
    nandInjectEcc(physical(GLUE) / NAND_PAGE + 1, 5, ecc[k]);
    EXPECT_EQ(read(GLUE), -1) << k;
    EXPECT_EQ(consoleCount("NAND Flash: uncorrectable error(" + std::to_string(k + 1) + ") "), 1) << consoleText();
  }
}

TEST_F(NandTest, ReadNeverWritesPastTheCallersSize) {
  u32 len = 0;
  std::memcpy(&len, flashBytes(GLUE, 4).data(), 4);
  std::fill(buf.begin(), buf.end(), 0xDEADBEEF);
  // Room for less than the image: nothing beyond the given size is touched.
  EXPECT_EQ(read(GLUE, 256), -1);
  EXPECT_TRUE(matchesFlash(GLUE, 256));
  EXPECT_EQ(buf[64], 0xDEADBEEFu);
  // An odd size that holds the whole image works, and the word after it stays untouched.
  EXPECT_EQ(read(GLUE, static_cast<int>(len) + 1), static_cast<int>(len));
  EXPECT_EQ(read(GLUE, static_cast<int>(len)), static_cast<int>(len));  // room for exactly the image
  EXPECT_EQ(buf[(len + 4) / 4], 0xDEADBEEFu);
  EXPECT_EQ(read(GLUE, 3), -1);
}

TEST_F(NandTest, ImplausibleLengthsAndAddressesOffAPageFail) {
  for (u32 length : {0u, 3u, 4u}) {
    nandWriteLogical(nandFlash(), 0x100000, &length, 4);
    EXPECT_EQ(read(0x100000), length == 4 ? 4 : -1) << length;
  }
  EXPECT_EQ(read(GLUE + 4), -1);
  EXPECT_EQ(mxNandError(), MX_NAND_ADDRESS_ERROR);
  EXPECT_EQ(consoleCount("NAND Flash: page address error: 080c0004"), 1) << consoleText();
  EXPECT_EQ(read(0x1E000000 - 0x800), -1);  // runs past the last logical sector
  EXPECT_EQ(mxNandError(), MX_NAND_ADDRESS_ERROR);
  EXPECT_GT(read(GLUE), 0);  // the channel is usable afterwards
}

TEST_F(NandTest, SectorTableChoice) {
  struct Case { const char* name; void (*prepare)(); bool readable; const char* line; } cases[] = {
      {"no table anywhere", [] { std::memset(nandFlash(), 0, NAND_BLOCK); }, false, "NAND Flash: Invalid sector table"},
      {"wrong version", [] { nandFlash()[4] = 2; }, false, "NAND Flash: Invalid sector table"},
      {"count too small", [] { nandWriteTable(nandFlash(), 0, 3843); }, false, "NAND Flash: Incorrect sector table"},
      {"copy in block 2", [] { std::memset(nandFlash(), 0, NAND_BLOCK); nandWriteTable(nandFlash(), 2); }, true, ""},
      {"unreadable first copy", [] { nandWriteTable(nandFlash(), 1); nandInjectEcc(3, 7, 0x0006); }, true, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    nandReset(true);
    mxNandForgetTable();
    testing_support::consoleClear();
    c.prepare();
    if (c.readable) {
      EXPECT_GT(read(GLUE), 0);
      EXPECT_TRUE(matchesFlash(GLUE, 64));
      EXPECT_EQ(consoleCount("sector table"), 0) << consoleText();
    } else {
      // The table is looked for once; later reads only say the flash is unformatted.
      EXPECT_EQ(read(GLUE), -1);
      EXPECT_EQ(std::make_pair(mxNandError(), read(GLUE)), std::make_pair(MX_NAND_UNFORMATTED, -1));
      EXPECT_EQ(consoleCounts({c.line, "NAND Flash: unformat"}), (std::vector<int>{1, 2})) << consoleText();
    }
  }
}

TEST_F(NandTest, ReadsAnImageThroughTheSectorTableAndNamesLogicalAddresses) {
  const int len = read(GLUE);
  ASSERT_GT(len, 4096);
  EXPECT_EQ(std::make_tuple(static_cast<u32>(len), mxNandError()), std::make_tuple(buf[0], MX_NAND_OK));
  EXPECT_EQ(mxNandLogicalAddress(0x20010), 0x20010u - 0x10000000u);  // the table blocks
  // A corrupt sector entry whose shift would wrap onto the right block still fails its check.
  const u32 wrapping = 0x8000 + physical(GLUE) / NAND_BLOCK;
  std::memcpy(nandFlash() + 12 + 4 * (GLUE / NAND_BLOCK), &wrapping, 4);
  mxNandForgetTable();
  EXPECT_THROW(read(GLUE), assert::AssertException);
}

}  // namespace
