// The simulated board: the reference firmware's ELF running in simavr behind
// the bus. Simulated time follows the wall clock: before each exchange the AVR
// runs the cycles that have passed since the last one; idle sleeps cost nothing.

#include "clock.hpp"
#include "event_log.hpp"
#include "peer.hpp"

#include <avr_ioport.h>
#include <avr_spi.h>
#include <sim_avr.h>
#include <sim_cycle_timers.h>
#include <sim_elf.h>
#include <sim_io.h>
#include <sim_irq.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

// The ATmega328P's register names and data-space addresses, from the same
// avr-libc part header the firmware is built with, then the board's wiring.
// The part header expects <avr/io.h>'s reserved names for its address macros.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#define _AVR_IO_H_ 1
#define _SFR_IO8(io) ((io) + 0x20)
#define _SFR_MEM8(mem) (mem)
#define _SFR_IO16(io) ((io) + 0x20)
#define _SFR_MEM16(mem) (mem)
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#include BOARD_PART_HEADER
#include "board_wiring.h"

namespace wpisim
{

namespace
{

constexpr char spi_port = BOARD_PORT_LETTER(BOARD_SPI_PORT);
constexpr char out_port = BOARD_PORT_LETTER(BOARD_OUT_PORT);
constexpr unsigned sreg_i_bit = 7;

// simavr's messages would land in parley's output; only errors are kept, in the call log.
void quiet_logger(avr_t * /*avr*/, const int level, const char *format, va_list ap)
{
    if (level > LOG_ERROR)
        return;
    std::array<char, 256> text{};
    std::vsnprintf(text.data(), text.size(), format, ap);
    std::string line(text.data());
    for (char &c : line)
        if (c == ' ' || c == '\n')
            c = '_';
    Record("board-error").text("message", line).emit();
}

// Sleeping is only a jump in simulated time, never a wait in real time.
void no_sleep(avr_t * /*avr*/, avr_cycle_count_t /*how_long*/) {}

class BoardPeer : public Peer
{
  public:
    explicit BoardPeer(avr_t *avr) : avr_(avr)
    {
        spi_in_ = avr_io_getirq(avr_, AVR_IOCTL_SPI_GETIRQ(0), SPI_IRQ_INPUT);
        ss_ = avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ(spi_port), BOARD_SS_BIT);
        avr_raise_irq(ss_, 1); // CE0 idles high
        watch(SPCR, &spcr_);
        watch(BOARD_PWM_TCCRA, &tccra_);
        watch(BOARD_OUT_A_OCR, &ocr_a_);
        watch(BOARD_OUT_B_OCR, &ocr_b_);
    }
    ~BoardPeer() override { avr_terminate(avr_); }

    bool boot()
    {
        // Bytes injected before SPI and interrupts are on would be dropped.
        const avr_cycle_count_t limit = avr_->cycle + avr_->frequency; // a simulated second
        while (avr_->cycle < limit && running()) {
            avr_run(avr_);
            if ((spcr_ >> SPE & 1) != 0 && avr_->sreg[sreg_i_bit] != 0) {
                // From here on, simulated time keeps pace with the wall clock.
                base_ns_ = now_ns();
                base_cycle_ = avr_->cycle;
                return true;
            }
        }
        return false;
    }

    void exchange(unsigned char *data, int len, std::int64_t start_ns, std::int64_t bit_ns) override
    {
        run_until(cycle_at(start_ns));
        bit_cycles_ =
            static_cast<avr_cycle_count_t>(static_cast<double>(bit_ns) * avr_->frequency / 1e9);
        data_ = data;
        len_ = len;
        next_ = 0;
        done_ = false;
        avr_raise_irq(ss_, 0); // CE0 falls before the first clock
        // Each byte is complete at the end of its 8 bit-times on the wire.
        avr_cycle_timer_register(avr_, 8 * bit_cycles_, on_byte_end, this);
        while (!done_ && running())
            avr_run(avr_);
        log_outputs();
    }

    const char *name() const override { return "board"; }

  private:
    bool running() const { return avr_->state != cpu_Crashed && avr_->state != cpu_Done; }

    avr_cycle_count_t cycle_at(std::int64_t ns) const
    {
        const auto elapsed = static_cast<double>(ns - base_ns_);
        return base_cycle_ + static_cast<avr_cycle_count_t>(elapsed * avr_->frequency / 1e9);
    }

    void run_until(avr_cycle_count_t cycle)
    {
        while (avr_->cycle < cycle && running())
            avr_run(avr_);
    }

    // A cycle timer on an absolute schedule: inject byte k at the end of its
    // clocks; half a bit after the last one, raise CE0 as the Pi does.
    static avr_cycle_count_t on_byte_end(avr_t *avr, avr_cycle_count_t when, void *param)
    {
        auto *self = static_cast<BoardPeer *>(param);
        if (self->next_ == self->len_) {
            avr_raise_irq(self->ss_, 1);
            self->done_ = true;
            return 0;
        }
        // MISO carried what the firmware had loaded into SPDR before this byte's
        // clocks. This one read stays raw: simavr's SPI module hands out a
        // slave's byte only after the byte has been clocked, too late to be the
        // byte the master read.
        const unsigned char miso = avr->data[SPDR];
        const unsigned char mosi = self->data_[self->next_];
        self->data_[self->next_] = miso;
        ++self->next_;
        avr_raise_irq(self->spi_in_, mosi);
        if (self->next_ == self->len_)
            return when + self->bit_cycles_ / 2;
        return when + 8 * self->bit_cycles_;
    }

    // Every write the firmware makes to a register lands in its shadow here,
    // through the register's memory IRQ.
    void watch(avr_io_addr_t addr, std::uint8_t *shadow)
    {
        avr_irq_register_notify(avr_iomem_getirq(avr_, addr, nullptr, AVR_IOMEM_IRQ_ALL), on_write,
                                shadow);
    }
    static void on_write(avr_irq_t * /*irq*/, std::uint32_t value, void *shadow)
    {
        *static_cast<std::uint8_t *>(shadow) = static_cast<std::uint8_t>(value);
    }

    avr_ioport_state_t port(char name) const
    {
        avr_ioport_state_t state{};
        avr_ioctl(avr_, AVR_IOCTL_IOPORT_GETSTATE(name), &state);
        return state;
    }

    // What an output pin shows: the PWM duty when its compare output drives
    // it, else the port level.
    int output_level(const avr_ioport_state_t &out, unsigned pin, unsigned com_bit,
                     std::uint8_t ocr) const
    {
        if ((out.ddr >> pin & 1) == 0)
            return 0;
        if ((tccra_ >> com_bit & 1) != 0)
            return ocr;
        return (out.port >> pin & 1) != 0 ? 255 : 0;
    }

    void log_outputs() const
    {
        const avr_ioport_state_t out = port(out_port);
        Record("board")
            .num("cycle", static_cast<std::int64_t>(avr_->cycle))
            .num("d5", output_level(out, BOARD_OUT_A_BIT, BOARD_OUT_A_COM, ocr_a_))
            .num("d6", output_level(out, BOARD_OUT_B_BIT, BOARD_OUT_B_COM, ocr_b_))
            .text("state", running() ? "running" : "crashed")
            .emit();
    }

    avr_t *avr_;
    avr_irq_t *spi_in_ = nullptr;
    avr_irq_t *ss_ = nullptr;
    std::int64_t base_ns_ = 0;
    avr_cycle_count_t base_cycle_ = 0;
    avr_cycle_count_t bit_cycles_ = 0;
    unsigned char *data_ = nullptr;
    int len_ = 0;
    int next_ = 0;
    bool done_ = false;
    std::uint8_t spcr_ = 0;
    std::uint8_t tccra_ = 0;
    std::uint8_t ocr_a_ = 0;
    std::uint8_t ocr_b_ = 0;
};

} // namespace

} // namespace wpisim

// Entry point for the stand-in, which loads this module only when a board is
// wanted, so programs that never talk SPI don't pay for the simulator.
// Returns null when the firmware cannot be read or does not start.
extern "C" __attribute__((visibility("default"))) wpisim::Peer *
wpisim_board_peer(const char *firmware_path)
{
    using namespace wpisim;
    if (access(firmware_path, R_OK) != 0)
        return nullptr;
    avr_global_logger_set(quiet_logger);

    static elf_firmware_t firmware{};
    if (elf_read_firmware(firmware_path, &firmware) != 0)
        return nullptr;
    // Without the ELF's .mmcu section, the Uno's part and clock.
    const char *mmcu = firmware.mmcu[0] != '\0' ? firmware.mmcu : "atmega328p";
    if (firmware.frequency == 0)
        firmware.frequency = 16000000;
    avr_t *avr = avr_make_mcu_by_name(mmcu);
    if (avr == nullptr)
        return nullptr;
    avr_init(avr);
    avr->sleep = no_sleep;
    avr_load_firmware(avr, &firmware);
    avr->log = LOG_ERROR;

    auto board = std::make_unique<BoardPeer>(avr);
    if (!board->boot()) {
        Record("board-error").text("message", "firmware_did_not_enable_SPI").emit();
        return nullptr;
    }
    return board.release();
}
