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

namespace wpisim
{

namespace
{

// ATmega328P data-space addresses.
constexpr int spcr_addr = 0x4c;
constexpr int spdr_addr = 0x4e;
constexpr int ddrd_addr = 0x2a;
constexpr int portd_addr = 0x2b;
constexpr int tccr0a_addr = 0x44;
constexpr int ocr0a_addr = 0x47;
constexpr int ocr0b_addr = 0x48;
constexpr unsigned spe_bit = 6;
constexpr unsigned sreg_i_bit = 7;
constexpr unsigned com0a1_bit = 7;
constexpr unsigned com0b1_bit = 5;

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
        ss_ = avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ('B'), 2);
        avr_raise_irq(ss_, 1); // CE0 idles high
    }
    ~BoardPeer() override { avr_terminate(avr_); }

    bool boot()
    {
        // Bytes injected before SPI and interrupts are on would be dropped.
        const avr_cycle_count_t limit = avr_->cycle + avr_->frequency; // a simulated second
        while (avr_->cycle < limit && running()) {
            avr_run(avr_);
            if ((avr_->data[spcr_addr] >> spe_bit & 1) != 0 && avr_->sreg[sreg_i_bit] != 0) {
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

    bool outputs(int &d5, int &d6) const override
    {
        d5 = output_level(com0b1_bit, ocr0b_addr, 5);
        d6 = output_level(com0a1_bit, ocr0a_addr, 6);
        return true;
    }

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
        // MISO carried what the firmware had loaded into SPDR before this byte's clocks.
        const unsigned char miso = avr->data[spdr_addr];
        const unsigned char mosi = self->data_[self->next_];
        self->data_[self->next_] = miso;
        ++self->next_;
        avr_raise_irq(self->spi_in_, mosi);
        if (self->next_ == self->len_)
            return when + self->bit_cycles_ / 2;
        return when + 8 * self->bit_cycles_;
    }

    // What D5 and D6 show: the PWM duty when a compare output drives them,
    // else the port level.
    int output_level(unsigned com_bit, int ocr_addr, unsigned pin) const
    {
        const uint8_t *d = avr_->data;
        if ((d[ddrd_addr] >> pin & 1) == 0)
            return 0;
        if ((d[tccr0a_addr] >> com_bit & 1) != 0)
            return d[ocr_addr];
        return (d[portd_addr] >> pin & 1) != 0 ? 255 : 0;
    }

    void log_outputs() const
    {
        Record("board")
            .num("cycle", static_cast<std::int64_t>(avr_->cycle))
            .num("d5", output_level(com0b1_bit, ocr0b_addr, 5))
            .num("d6", output_level(com0a1_bit, ocr0a_addr, 6))
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
