// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once

#include "avr_board.hpp"
#include "link.hpp"

#include <string>

namespace wpisim
{

// Answers a run's I2C transfer on the board; false for a request no run of
// this build would send. The transfer's answer goes on out.
bool serve_i2c(const link::Message &m, AvrBoard &board, std::string *out, link::I2cAnswer *answer);

} // namespace wpisim
