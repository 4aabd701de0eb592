// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "diagnostic.hpp"

#include "event_log.hpp"

namespace wpisim
{

void fail(const std::string &what, const std::string &why)
{
    Record("error").text("what", what).text("why", why).emit();
    exit_with(what, why);
}

} // namespace wpisim
