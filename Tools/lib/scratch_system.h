#pragma once
// The back end's categories inside this program, for questions that only their own code can answer
// (where a record lies in the backup image, which values a field's checks take). On a board of
// anonymous memory, unless one is open already (a test that runs the whole system).
namespace frontend {

// Opens a board of anonymous memory unless one is open, creates the categories, and unless they are
// bound already (a system that runs in this program), binds every instance as the back end's
// start-up does and gives each its default record. True when it bound them.
bool useScratchSystem();

}  // namespace frontend
