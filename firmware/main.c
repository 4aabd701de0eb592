/* Arduino Uno (ATmega328P, 16 MHz) firmware: SPI slave in mode 0 that fades
 * two outputs on the Pi's command. The protocol lives in protocol.c; this
 * file is the interrupt glue.
 *
 * Pins: SS D10 (PB2) input, MOSI D11, MISO D12 (PB4) output, SCK D13;
 * output A on D5 (OC0B), output B on D6 (OC0A). */

#include "protocol.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>

#ifdef WITH_MMCU_SECTION
/* Tells the simulator which part and clock this ELF is for. */
#include <avr_mcu_section.h>
AVR_MCU(F_CPU, "atmega328p");
#endif

static struct board board;

static int selected(void)
{
    return (PINB & _BV(PB2)) == 0;
}

/* Full brightness and dark are plain levels: PWM at 0 would still pulse. */
static void drive(uint8_t level, volatile uint8_t *ocr, uint8_t com_bit, uint8_t pin)
{
    if (level == 0 || level == 255) {
        TCCR0A &= (uint8_t)~_BV(com_bit);
        if (level == 255)
            PORTD |= _BV(pin);
        else
            PORTD &= (uint8_t)~_BV(pin);
    } else {
        *ocr = level;
        TCCR0A |= _BV(com_bit);
    }
}

static int mid(uint8_t level)
{
    return level != 0 && level != 255;
}

static void show_outputs(void)
{
    drive(board.level[0], &OCR0B, COM0B1, PD5);
    drive(board.level[1], &OCR0A, COM0A1, PD6);
    /* Timer 0 runs only while a PWM is needed. */
    if (mid(board.level[0]) || mid(board.level[1]))
        TCCR0B = _BV(CS01) | _BV(CS00);
    else
        TCCR0B = 0;
}

/* The tick runs only while there is something to do, so an idle board sleeps. */
static void tick_when_busy(void)
{
    if (board_busy(&board))
        TIMSK2 = _BV(OCIE2A);
    else
        TIMSK2 = 0;
}

ISR(SPI_STC_vect)
{
    const uint8_t in = SPDR;
    SPDR = board_byte(&board, in);
}

/* SS, the Pi's CE0, frames each exchange: low for its two bytes. */
ISR(PCINT0_vect)
{
    if (selected()) {
        board_select(&board);
    } else {
        SPDR = board_deselect(&board);
        tick_when_busy();
    }
}

/* About 100 Hz: 16 MHz / 1024 / 156. */
ISR(TIMER2_COMPA_vect)
{
    const uint8_t changed = board_tick(&board);
    if (changed & BOARD_OUTPUTS_CHANGED)
        show_outputs();
    if ((changed & BOARD_STATUS_CHANGED) && !selected())
        SPDR = board.loaded_first;
    tick_when_busy();
}

int main(void)
{
    board_init(&board);

    DDRB = _BV(PB4);  /* MISO out; SS, MOSI, SCK in */
    PORTB = _BV(PB2); /* pull SS up while the Pi is not wired */
    DDRD = _BV(PD5) | _BV(PD6);
    PORTD = 0;

    /* Timer 0: fast PWM for the outputs, started when a fade needs it. */
    TCCR0A = _BV(WGM01) | _BV(WGM00);
    /* Timer 2: the fade tick, CTC at clock / 1024 / 156. */
    TCCR2A = _BV(WGM21);
    TCCR2B = _BV(CS22) | _BV(CS21) | _BV(CS20);
    OCR2A = 155;

    PCMSK0 = _BV(PCINT2);
    PCICR = _BV(PCIE0);

    SPDR = board.loaded_first;
    SPCR = _BV(SPE) | _BV(SPIE); /* slave, mode 0, MSB first */

    set_sleep_mode(SLEEP_MODE_IDLE);
    sei();
    for (;;)
        sleep_mode();
}
