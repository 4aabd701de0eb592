// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#pragma once
// wiringPi's extension nodes: pins from 64 up that a program's own driver
// (an MCP23017's, say) serves through the functions it puts in a node.

struct wiringPiNodeStruct;

namespace wpisim::gpio
{

wiringPiNodeStruct *find_node(int pin);
wiringPiNodeStruct *new_node(int base, int count);

} // namespace wpisim::gpio
