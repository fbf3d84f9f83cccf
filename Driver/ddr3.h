#pragma once
// DDR3 bring-up of the ME and SDI FPGAs' memory controllers.

// Brings up and tests DDR3 (five attempts); restarts the board when every attempt fails.
void mxInitDdr3();
