// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "firmware_choice.hpp"

#include "flash_store.hpp"
#include "install_layout.hpp"
#include "message.hpp"
#include "settings.hpp"

namespace wpisim
{

Firmware chosen_firmware()
{
    Firmware f;
    if (const auto named = setting_text("WPISIM_FIRMWARE")) {
        f.path = *named;
        f.what = "WPISIM_FIRMWARE=" + quoted(f.path);
        f.kind = &default_board_kind();
    } else {
        f = flashed_firmware();
    }
    if (const BoardKind *asked = chosen_board_kind())
        f.kind = asked;
    return f;
}

Firmware flashed_firmware(const std::string &board)
{
    Firmware f;
    if (const auto flash = flashed(board)) {
        f.path = flash->image;
        f.kind = flash->kind;
        f.hold = flash->hold;
        f.what = "flash " + quoted(flash->name);
    } else {
        f.path = reference_firmware();
        f.what = "firmware " + quoted(f.path);
    }
    if (f.kind == nullptr)
        f.kind = &default_board_kind();
    return f;
}

std::string reference_firmware()
{
    return board_files().firmware;
}

} // namespace wpisim
