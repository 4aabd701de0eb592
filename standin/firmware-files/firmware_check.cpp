// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "firmware_check.hpp"

#include "intel_hex.hpp"
#include "message.hpp"
#include "own_file.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace wpisim
{

namespace
{

constexpr std::uint64_t fuse_bytes = 6; // what simavr keeps
constexpr std::uint32_t min_frequency = 1000000;
constexpr std::uint32_t max_frequency = 20000000;
// Far above any firmware for 32 KiB of flash, debug information included.
constexpr off_t max_file_bytes = 0x1000000; // 16 MiB

// simavr copies the MCU's name into 64 bytes.
constexpr std::size_t mcu_name_bytes = 64;

// Tags of the .mmcu section (simavr's avr_mcu_section.h).
enum MmcuTag : unsigned {
    tag_name = 1,
    tag_frequency = 2,
    tag_aref = 5,
    tag_simavr_command = 10,
    tag_vcd_irq = 16,
};

struct Section {
    std::uint32_t name, type, flags, offset, size, link, entsize;
    // Compressed bytes would reach the simulator, or libelf would refuse them.
    bool compressed() const { return (flags & SHF_COMPRESSED) != 0; }
};

class Elf
{
  public:
    Elf(std::vector<unsigned char> bytes, const BoardKind &kind)
        : bytes_(std::move(bytes)), kind_(kind)
    {
    }

    std::string problem();
    // The bytes simavr loads into the flash, once problem() found none.
    std::uint32_t flash_bytes() const { return flash_bytes_; }

  private:
    std::uint32_t u8(std::uint64_t at) const { return bytes_[at]; }
    std::uint32_t u16(std::uint64_t at) const { return u8(at) | u8(at + 1) << 8; }
    std::uint32_t u32(std::uint64_t at) const { return u16(at) | u16(at + 2) << 16; }
    // [offset, offset + size) lies inside the file.
    bool inside(std::uint64_t offset, std::uint64_t size) const
    {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    bool terminated(const Section &s) const
    {
        return s.size > 0 && bytes_[s.offset + s.size - 1] == '\0';
    }
    std::string_view string_at(const Section &table, std::uint32_t at) const
    {
        return reinterpret_cast<const char *>(bytes_.data() + table.offset + at);
    }

    std::string headers_problem();
    std::string sections_problem();
    std::string string_tables_problem() const;
    // Sizes that simavr takes from the sections by name, the last one of a name winning.
    struct Loaded {
        std::uint64_t text = 0;
        std::uint64_t data = 0;
        std::uint64_t fuse = 0;
        bool lock = false;
    };
    std::string section_problem(const Section &s, std::string_view name, Loaded &loaded);
    std::string symbols_problem(const Section &table);
    std::string mmcu_problem(const Section &mmcu);
    std::string mmcu_entry_problem(unsigned tag, unsigned len, const unsigned char *value);
    std::string device_note_problem(const Section &note);
    std::string mcu_problem(std::string_view mcu);

    std::vector<unsigned char> bytes_;
    const BoardKind &kind_;
    std::vector<Section> sections_;
    std::uint64_t flash_base_ = 0;
    std::uint32_t flash_bytes_ = 0;
    bool named_mcu_ = false;
};

std::string Elf::problem()
{
    if (bytes_.size() < sizeof(Elf32_Ehdr) || std::memcmp(bytes_.data(), ELFMAG, SELFMAG) != 0)
        return "not an ELF file";
    if (bytes_[EI_CLASS] != ELFCLASS32)
        return "a 64-bit ELF file, not AVR code";
    if (bytes_[EI_DATA] != ELFDATA2LSB || bytes_[EI_VERSION] != EV_CURRENT)
        return "not a little-endian ELF file of version 1, as AVR code is";
    if (u16(offsetof(Elf32_Ehdr, e_machine)) != EM_AVR)
        return "ELF code for machine " + std::to_string(u16(offsetof(Elf32_Ehdr, e_machine))) +
               ", not for the AVR";
    if (auto why = headers_problem(); !why.empty())
        return why;
    if (auto why = sections_problem(); !why.empty())
        return why;
    const unsigned arch = u32(offsetof(Elf32_Ehdr, e_flags)) & 0x7f;
    if (arch != kind_.arch)
        return "code for avr" + std::to_string(arch) + " parts, not for the " + kind_.part +
               " (avr" + std::to_string(kind_.arch) + ")";
    if (!named_mcu_)
        return "nothing in it names the MCU it was built for (neither avr-libc's device note "
               "nor a .mmcu section)";
    return "";
}

std::string Elf::headers_problem()
{
    if (u32(offsetof(Elf32_Ehdr, e_version)) != EV_CURRENT ||
        u16(offsetof(Elf32_Ehdr, e_ehsize)) != sizeof(Elf32_Ehdr))
        return "a damaged ELF header";
    const std::uint32_t phoff = u32(offsetof(Elf32_Ehdr, e_phoff));
    const std::uint32_t phnum = u16(offsetof(Elf32_Ehdr, e_phnum));
    if (phnum > 0) {
        if (u16(offsetof(Elf32_Ehdr, e_phentsize)) != sizeof(Elf32_Phdr) ||
            !inside(phoff, static_cast<std::uint64_t>(phnum) * sizeof(Elf32_Phdr)))
            return "program headers beyond the end of the file";
        for (std::uint32_t i = 0; i < phnum; ++i) {
            const std::uint64_t at = phoff + static_cast<std::uint64_t>(i) * sizeof(Elf32_Phdr);
            if (!inside(u32(at + offsetof(Elf32_Phdr, p_offset)),
                        u32(at + offsetof(Elf32_Phdr, p_filesz))))
                return "segment " + std::to_string(i) + " beyond the end of the file";
        }
    }
    const std::uint32_t shoff = u32(offsetof(Elf32_Ehdr, e_shoff));
    const std::uint32_t shnum = u16(offsetof(Elf32_Ehdr, e_shnum));
    if (shnum == 0)
        return "no section headers";
    if (u16(offsetof(Elf32_Ehdr, e_shentsize)) != sizeof(Elf32_Shdr) ||
        !inside(shoff, static_cast<std::uint64_t>(shnum) * sizeof(Elf32_Shdr)))
        return "section headers beyond the end of the file";
    for (std::uint32_t i = 0; i < shnum; ++i) {
        const std::uint64_t at = shoff + static_cast<std::uint64_t>(i) * sizeof(Elf32_Shdr);
        const Section s{
            u32(at + offsetof(Elf32_Shdr, sh_name)),   u32(at + offsetof(Elf32_Shdr, sh_type)),
            u32(at + offsetof(Elf32_Shdr, sh_flags)),  u32(at + offsetof(Elf32_Shdr, sh_offset)),
            u32(at + offsetof(Elf32_Shdr, sh_size)),   u32(at + offsetof(Elf32_Shdr, sh_link)),
            u32(at + offsetof(Elf32_Shdr, sh_entsize))};
        if (s.type != SHT_NOBITS && s.type != SHT_NULL && !inside(s.offset, s.size))
            return "section " + std::to_string(i) + " beyond the end of the file";
        sections_.push_back(s);
    }
    return "";
}

std::string Elf::string_tables_problem() const
{
    const std::uint32_t names_index = u16(offsetof(Elf32_Ehdr, e_shstrndx));
    if (names_index >= sections_.size() || sections_[names_index].type != SHT_STRTAB ||
        !terminated(sections_[names_index]))
        return "no usable table of section names";
    const Section &names = sections_[names_index];
    for (const Section &s : sections_) {
        if (s.type == SHT_STRTAB && (!terminated(s) || s.compressed()))
            return "a damaged string table";
        if (s.name >= names.size)
            return "a section name outside the table of names";
    }
    return "";
}

std::string Elf::section_problem(const Section &s, std::string_view name, Loaded &loaded)
{
    const bool copied = name == ".text" || name == ".data" || name == ".eeprom" ||
                        name == ".fuse" || name == ".lock" || name == ".mmcu";
    // simavr copies these from the file's bytes, which NOBITS sections lack.
    if (copied && (s.type != SHT_PROGBITS || s.compressed()))
        return std::string("a ") + std::string(name) + " section with no bytes in the file";
    if (name == ".bss" && s.type != SHT_NOBITS && s.type != SHT_PROGBITS)
        return "a .bss section of the wrong type";
    if (name == ".text")
        loaded.text = s.size;
    else if (name == ".data")
        loaded.data = s.size;
    else if (name == ".fuse")
        loaded.fuse = s.size;
    else if (name == ".lock")
        loaded.lock = true;
    else if (name == ".eeprom" && s.size > kind_.eeprom_bytes)
        return "more EEPROM data than the " + std::string(kind_.part) + "'s " +
               std::to_string(kind_.eeprom_bytes / 1024) + " KiB";
    else if (name == ".mmcu")
        return mmcu_problem(s);
    else if (name == ".note.gnu.avr.deviceinfo")
        return device_note_problem(s);
    if (s.type == SHT_SYMTAB)
        return symbols_problem(s);
    return "";
}

std::string Elf::sections_problem()
{
    if (auto why = string_tables_problem(); !why.empty())
        return why;
    const Section &names = sections_[u16(offsetof(Elf32_Ehdr, e_shstrndx))];
    Loaded loaded;
    // Index 0 is the null section, which simavr's walk skips.
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        const Section &s = sections_[i];
        if (auto why = section_problem(s, string_at(names, s.name), loaded); !why.empty())
            return why;
    }
    if (loaded.fuse > fuse_bytes || (loaded.lock && loaded.fuse == 0))
        return "fuse or lock bits the simulator cannot load";
    if (loaded.text == 0)
        return "no code (.text section)";
    if (flash_base_ + loaded.text + loaded.data > kind_.flash_bytes)
        return "more code and data than the " + std::string(kind_.part) + "'s " +
               std::to_string(kind_.flash_bytes / 1024) + " KiB of flash";
    flash_bytes_ = static_cast<std::uint32_t>(loaded.text + loaded.data);
    return "";
}

std::string Elf::symbols_problem(const Section &table)
{
    if (table.entsize != sizeof(Elf32_Sym) || table.size % sizeof(Elf32_Sym) != 0 ||
        table.compressed() || table.link >= sections_.size() ||
        sections_[table.link].type != SHT_STRTAB)
        return "a damaged symbol table";
    const Section &strings = sections_[table.link];
    for (std::uint64_t at = table.offset; at < table.offset + table.size; at += sizeof(Elf32_Sym)) {
        const std::uint32_t name = u32(at + offsetof(Elf32_Sym, st_name));
        if (name >= strings.size)
            return "a symbol name outside its string table";
        // simavr takes this symbol's address as where the code starts.
        const std::uint32_t info = u8(at + offsetof(Elf32_Sym, st_info));
        const bool kept = ELF32_ST_BIND(info) == STB_GLOBAL || ELF32_ST_TYPE(info) == STT_FUNC ||
                          ELF32_ST_TYPE(info) == STT_OBJECT;
        if (kept && string_at(strings, name) == "__vectors")
            flash_base_ = u32(at + offsetof(Elf32_Sym, st_value));
    }
    return "";
}

std::string Elf::mmcu_entry_problem(unsigned tag, unsigned len, const unsigned char *value)
{
    if ((tag >= tag_frequency && tag <= tag_aref) && len < 4)
        return "a damaged .mmcu section";
    if (tag == tag_name) {
        const void *end = std::memchr(value, '\0', len);
        if (end == nullptr || static_cast<const unsigned char *>(end) - value >=
                                  static_cast<std::ptrdiff_t>(mcu_name_bytes))
            return "a damaged .mmcu section";
        if (auto why = mcu_problem(reinterpret_cast<const char *>(value)); !why.empty())
            return why;
    }
    if (tag == tag_frequency) {
        const std::uint32_t hz =
            value[0] | value[1] << 8 | value[2] << 16 | std::uint32_t{value[3]} << 24;
        // 0 leaves the Uno's 16 MHz.
        if (hz != 0 && (hz < min_frequency || hz > max_frequency))
            return "a clock of " + std::to_string(hz) + " Hz, outside the " + kind_.part +
                   "'s 1 to 20 MHz";
    }
    // Traces, a console and commands are simulator services this board lacks.
    if (tag >= tag_simavr_command && tag <= tag_vcd_irq)
        return ".mmcu asks the simulator for traces, a console or commands, which the "
               "board does not offer";
    return "";
}

std::string Elf::mcu_problem(std::string_view mcu)
{
    if (mcu != kind_.mcu)
        return "built for the " + quoted(mcu) + ", not for the " + kind_.part;
    named_mcu_ = true;
    return "";
}

// avr-libc's start-up code says which MCU it was built for in an ELF note:
// "AVR", then flash, SRAM and EEPROM start and size, a table of offsets and
// the strings they point into, the first being the device's name.
std::string Elf::device_note_problem(const Section &note)
{
    constexpr std::uint32_t fixed = 7 * 4; // the six sizes and the table's length
    if (note.size < 12)
        return "a damaged device note";
    const std::uint32_t name_size = u32(note.offset);
    const std::uint32_t desc_size = u32(note.offset + 4);
    const std::uint64_t desc = note.offset + 12 + ((name_size + 3U) & ~3U);
    if (name_size != 4 || desc + desc_size > note.offset + note.size || desc_size < fixed + 4 + 2)
        return "a damaged device note";
    const std::uint32_t at = u32(desc + fixed);
    const std::uint64_t strings = desc + fixed + 4;
    if (strings + at >= desc + desc_size)
        return "a damaged device note";
    const auto *text = reinterpret_cast<const char *>(bytes_.data() + strings + at);
    const auto room = static_cast<std::size_t>(desc + desc_size - strings - at);
    const std::size_t length = strnlen(text, room);
    if (length == room || length == 0 || length >= mcu_name_bytes)
        return "a damaged device note";
    return mcu_problem(std::string_view(text, length));
}

std::string Elf::mmcu_problem(const Section &mmcu)
{
    const unsigned char *p = bytes_.data() + mmcu.offset;
    std::uint64_t left = mmcu.size;
    while (left > 0) {
        if (left < 2 || p[1] + 2U > left)
            return "a damaged .mmcu section";
        const unsigned len = p[1];
        if (auto why = mmcu_entry_problem(p[0], len, p + 2); !why.empty())
            return why;
        p += 2 + len;
        left -= 2 + len;
    }
    return "";
}

// The file's bytes as firmware for the kind of board; loaded receives what
// it puts in the flash.
std::string content_problem(std::vector<unsigned char> bytes, const BoardKind &kind,
                            std::uint32_t *loaded)
{
    std::string why;
    if (!bytes.empty() && bytes[0] == ':') {
        *loaded = parse_intel_hex(std::string(bytes.begin(), bytes.end()), kind.flash_bytes, &why)
                      .written;
        return why;
    }
    if (bytes.size() < SELFMAG || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
        return "neither an ELF file nor Intel HEX";
    Elf elf(std::move(bytes), kind);
    why = elf.problem();
    *loaded = elf.flash_bytes();
    return why;
}

} // namespace

std::string firmware_problem(const std::string &path, const BoardKind &kind, std::string *content,
                             std::uint32_t *flash_bytes)
{
    // No read before the file is known to be a regular one: a FIFO or a
    // device hangs nobody.
    const int fd = open_unblocked(AT_FDCWD, path, O_RDONLY);
    if (fd < 0)
        return std::strerror(errno);
    struct stat st {
    };
    std::string why;
    if (fstat(fd, &st) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        why = "not a regular file";
    else if (st.st_size > max_file_bytes)
        why = "too large to be firmware for the board";
    std::vector<unsigned char> bytes(why.empty() ? static_cast<std::size_t>(st.st_size) : 0);
    std::size_t got = 0;
    while (why.empty() && got < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            why = n < 0 ? std::strerror(errno) : "shorter than it was a moment ago";
        else
            got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (!why.empty())
        return why;
    if (content != nullptr)
        content->assign(bytes.begin(), bytes.end());
    std::uint32_t loaded = 0;
    why = content_problem(std::move(bytes), kind, &loaded);
    if (flash_bytes != nullptr)
        *flash_bytes = why.empty() ? loaded : 0;
    return why;
}

} // namespace wpisim
