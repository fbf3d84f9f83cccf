# Writes OUT, a header that defines BUILD_MARK: a hash of the system's sources under ROOT, so that
# programs built from the same source carry the same mark and those of another source another.
# The header is rewritten only when the mark changes.
file(GLOB_RECURSE sources LIST_DIRECTORIES false
  ${ROOT}/Common/* ${ROOT}/Lib/* ${ROOT}/Main/* ${ROOT}/Driver/* ${ROOT}/Amp/*)
list(SORT sources)
set(all "")
foreach(f ${sources})
  file(SHA1 ${f} h)
  file(RELATIVE_PATH name ${ROOT} ${f})
  string(APPEND all "${name} ${h}\n")
endforeach()
string(SHA1 mark "${all}")
string(SUBSTRING ${mark} 0 8 mark)
set(text "#pragma once\n// Made by the build from the system's sources.\n#define BUILD_MARK 0x${mark}u\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE ${OUT} "${text}")
endif()
