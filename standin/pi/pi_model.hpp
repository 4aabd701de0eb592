// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// The Pi models the stand-in can play, named by WPISIM_PI, and what wiringPi
// 3.14 makes of each board's revision code.

#include <string_view>
#include <vector>

namespace wpisim::pi
{

// piBoardId's five answers.
struct BoardId {
    int model;       // PI_MODEL_*
    int rev;         // PI_VERSION_* on the oldest boards, the PCB revision on the others
    int mem;         // index into piMemorySize
    int maker;       // index into piMakerNames
    int over_volted; // the warranty bit
};

struct Model {
    std::string_view word;  // WPISIM_PI's word
    unsigned revision_code; // what the board's device tree gives as its revision
    BoardId id;             // as 3.14 decodes revision_code
    int layout;             // piGpioLayout: 1 for the first Model A/B, else 2
    bool forty_pins;        // piBoard40Pin
    bool rp1;               // piRP1Model: GPIO, PWM and pads in the RP1 chip (Pi 5)
};

// Every model, pi1-rev1 first.
const std::vector<Model> &models();

// The model a word names, or nullptr.
const Model *find_model(std::string_view word);

// WPISIM_PI's model, a Pi 4 when it is unset. A word not known ends the
// process with the stand-in's message, at the first call.
const Model &model();

// What 3.14's piBoardId makes of a revision code: the new-style bit fields
// when bit 23 is set, else its table of the first boards' codes (all zeros,
// layout 2, for a code it does not know).
Model decode(std::string_view word, unsigned revision_code);

} // namespace wpisim::pi
