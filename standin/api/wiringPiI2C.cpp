// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// wiringPi 3.14's I2C calls, and i2c-dev on the descriptors they open. The
// library opens /dev/i2c-1 (/dev/i2c-0 on the first Pi's layout) and talks
// to it with ioctl, read and write; here the descriptor is a real one, of
// /dev/null, and this library's read, write, ioctl and close stand in front
// of the C library's for those descriptors only, doing what i2c-dev and the
// Pi's i2c-bcm2835 driver do: a program that uses the descriptor itself gets
// the same results and errno as on a Pi.

#include "bench_file.hpp"
#include "i2c_bus.hpp"
#include "pi_session.hpp"

#include "event_log.hpp"

#include <wiringPi.h>
#include <wiringPiI2C.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <initializer_list>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

// Descriptors up to this are ours to track; a program's are far below.
constexpr int max_fd = 4096;
// The slave address each of our descriptors has, plus one; 0 for none of ours.
std::atomic<int> slaves[max_fd];

// i2c-dev's largest read or write, and I2C_RDWR's most messages.
constexpr int max_message = 8192;
constexpr unsigned max_messages = 42;

int slave_of(int fd)
{
    return fd >= 0 && fd < max_fd ? slaves[fd].load(std::memory_order_relaxed) - 1 : -1;
}

template <class F> F real(const char *name)
{
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): dlsym gives a function as void *
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using read_fn = ssize_t (*)(int, void *, size_t);
using write_fn = ssize_t (*)(int, const void *, size_t);
using ioctl_fn = int (*)(int, unsigned long, void *);
using close_fn = int (*)(int);

int real_ioctl(int fd, unsigned long request, void *arg)
{
    static const auto f = real<ioctl_fn>("ioctl");
    return f(fd, request, arg);
}

// 0, or the errno; transfers the messages on the bus.
int on_bus(const char *call, int fd, wpisim::i2c::Message *messages, int count)
{
    // A call that works leaves errno alone, as the kernel's does.
    const int caller_errno = errno;
    // The bus clock the bench file gives the Pi, 100 kHz by default.
    const int error = wpisim::i2c::transfer(call, fd, messages, count,
                                            static_cast<int>(wpisim::the_bench().i2c_hz));
    errno = caller_errno;
    return error;
}

// -1 with errno set.
int failed(int error)
{
    errno = error;
    return -1;
}

// I2C_SLAVE: a 7-bit address, as i2c-dev takes one.
int select_slave(int fd, unsigned long address)
{
    if (address > 0x7f)
        return failed(EINVAL);
    slaves[fd].store(static_cast<int>(address) + 1);
    return 0;
}

// What i2c-dev refuses of an SMBus request before any transfer: 0 or the errno.
int smbus_refusal(const i2c_smbus_ioctl_data &args)
{
    const int size = static_cast<int>(args.size);
    const bool reading = args.read_write == I2C_SMBUS_READ;
    if (size < I2C_SMBUS_QUICK || size > I2C_SMBUS_I2C_BLOCK_DATA ||
        (!reading && args.read_write != I2C_SMBUS_WRITE))
        return EINVAL;
    const bool no_data = size == I2C_SMBUS_QUICK || (size == I2C_SMBUS_BYTE && !reading);
    if (!no_data && args.data == nullptr)
        return EINVAL;
    // A block read takes its length from the slave, which the Pi's controller cannot.
    if ((size == I2C_SMBUS_BLOCK_DATA && reading) || size == I2C_SMBUS_BLOCK_PROC_CALL)
        return EOPNOTSUPP;
    if (size == I2C_SMBUS_I2C_BLOCK_BROKEN && reading)
        args.data->block[0] = I2C_SMBUS_BLOCK_MAX;
    const bool block = size == I2C_SMBUS_BLOCK_DATA || size == I2C_SMBUS_I2C_BLOCK_BROKEN ||
                       size == I2C_SMBUS_I2C_BLOCK_DATA;
    if (block && args.data->block[0] > I2C_SMBUS_BLOCK_MAX)
        return EINVAL;
    return 0;
}

// An SMBus transaction as the kernel emulates it over plain I2C messages,
// the Pi's controller having no SMBus of its own: the command byte and what
// follows it written, then what is read after a repeated START.
class Smbus
{
  public:
    Smbus(int address, const i2c_smbus_ioctl_data &args)
        : size_(static_cast<int>(args.size)), data_(args.data)
    {
        // A process call writes a word and reads one back, whatever was asked.
        reading_ = args.read_write == I2C_SMBUS_READ || size_ == I2C_SMBUS_PROC_CALL;
        out_[0] = args.command;
        m_[0] = {address, false, out_, 1};
        m_[1] = {address, true, in_, 0};
        switch (size_) {
        case I2C_SMBUS_QUICK:
            m_[0] = {address, reading_, out_, 0};
            break;
        case I2C_SMBUS_BYTE:
            if (reading_)
                m_[0] = {address, true, in_, 1};
            break;
        case I2C_SMBUS_BYTE_DATA:
            if (!reading_)
                write({data_->byte});
            read(1);
            break;
        case I2C_SMBUS_WORD_DATA:
        case I2C_SMBUS_PROC_CALL:
            if (size_ == I2C_SMBUS_PROC_CALL || !reading_)
                write({static_cast<unsigned char>(data_->word & 0xff),
                       static_cast<unsigned char>(data_->word >> 8)});
            read(2);
            break;
        case I2C_SMBUS_BLOCK_DATA: // a write: the count, then the bytes
            std::memcpy(out_ + 1, data_->block, data_->block[0] + 1U);
            m_[0].len = data_->block[0] + 2;
            break;
        default: // the I2C block calls: the bytes alone
            if (reading_) {
                read(data_->block[0]);
            } else {
                std::memcpy(out_ + 1, data_->block + 1, data_->block[0]);
                m_[0].len = data_->block[0] + 1;
            }
            break;
        }
    }

    // 0, or the errno the transfer failed with.
    int run(const char *call, int fd)
    {
        const int error = on_bus(call, fd, m_, count_);
        if (error != 0 || !reading_)
            return error;
        if (size_ == I2C_SMBUS_BYTE || size_ == I2C_SMBUS_BYTE_DATA)
            data_->byte = in_[0];
        else if (size_ == I2C_SMBUS_WORD_DATA || size_ == I2C_SMBUS_PROC_CALL)
            data_->word = static_cast<std::uint16_t>(in_[0] | in_[1] << 8);
        else if (size_ != I2C_SMBUS_QUICK)
            std::memcpy(data_->block + 1, in_, data_->block[0]);
        return 0;
    }

  private:
    void write(std::initializer_list<unsigned char> bytes)
    {
        std::copy(bytes.begin(), bytes.end(), out_ + 1);
        m_[0].len = static_cast<int>(bytes.size()) + 1;
    }
    void read(int len)
    {
        if (!reading_)
            return;
        m_[1].len = len;
        count_ = 2;
    }

    int size_;
    i2c_smbus_data *data_;
    bool reading_ = false;
    unsigned char out_[I2C_SMBUS_BLOCK_MAX + 2] = {};
    unsigned char in_[I2C_SMBUS_BLOCK_MAX] = {};
    wpisim::i2c::Message m_[2];
    int count_ = 1;
};

int smbus(const char *call, int fd, const i2c_smbus_ioctl_data &args)
{
    const int refused = smbus_refusal(args);
    if (refused != 0)
        return failed(refused);
    Smbus transaction(slave_of(fd), args);
    const int error = transaction.run(call, fd);
    return error == 0 ? 0 : failed(error);
}

// I2C_RDWR: the program's own messages in one transfer; how many went.
int combined(int fd, const i2c_rdwr_ioctl_data &args)
{
    if (args.nmsgs > max_messages)
        return failed(EINVAL);
    wpisim::i2c::Message m[max_messages];
    for (unsigned i = 0; i < args.nmsgs; ++i) {
        const i2c_msg &msg = args.msgs[i];
        if (msg.len > max_message || msg.addr > 0x7f)
            return failed(EINVAL);
        m[i] = {msg.addr, (msg.flags & I2C_M_RD) != 0, msg.buf, msg.len};
    }
    if (args.nmsgs == 0)
        return 0;
    const int error = on_bus("ioctl", fd, m, static_cast<int>(args.nmsgs));
    return error == 0 ? static_cast<int>(args.nmsgs) : failed(error);
}

// What the Pi's i2c-bcm2835 adapter says it can do.
constexpr unsigned long functions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;

int i2c_dev_ioctl(int fd, unsigned long request, void *arg)
{
    switch (request) {
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE:
        return select_slave(fd, reinterpret_cast<unsigned long>(arg));
    case I2C_FUNCS:
        *static_cast<unsigned long *>(arg) = functions;
        return 0;
    case I2C_RDWR:
        return combined(fd, *static_cast<const i2c_rdwr_ioctl_data *>(arg));
    case I2C_SMBUS:
        return smbus("ioctl", fd, *static_cast<const i2c_smbus_ioctl_data *>(arg));
    case I2C_RETRIES:
    case I2C_TIMEOUT:
        return 0;
    default:
        return failed(ENOTTY);
    }
}

// One plain read or write on the slave of an I2C_SLAVE, as i2c-dev makes it.
ssize_t plain(const char *call, int fd, void *buf, size_t count, bool reading)
{
    const int len = static_cast<int>(count > max_message ? max_message : count);
    wpisim::i2c::Message m{slave_of(fd), reading, static_cast<unsigned char *>(buf), len};
    const int error = on_bus(call, fd, &m, 1);
    return error == 0 ? len : failed(error);
}

// The library's own SMBus call, on any descriptor as the library makes it.
int access(const char *call, int fd, char rw, int command, int size, i2c_smbus_data *data)
{
    i2c_smbus_ioctl_data args{};
    args.read_write = rw;
    args.command = static_cast<std::uint8_t>(command);
    args.size = static_cast<std::uint32_t>(size);
    args.data = data;
    if (slave_of(fd) < 0)
        return real_ioctl(fd, I2C_SMBUS, &args);
    return smbus(call, fd, args);
}

// The bus on the header: bus 0 on the first Pi's layout, else bus 1.
std::string header_bus()
{
    return piGpioLayout() == 1 ? "/dev/i2c-0" : "/dev/i2c-1";
}

// Only the header's bus is there; its device is opened as the library
// opens it. The descriptor, or -1 and the errno in error.
int open_bus(const std::string &path, int *error)
{
    if (path != header_bus()) {
        *error = ENOENT;
        return -1;
    }
    const int fd = open("/dev/null", O_RDWR);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (fd >= max_fd) {
        close(fd);
        *error = EMFILE;
        return -1;
    }
    return fd;
}

} // namespace

extern "C" {

int wiringPiI2CSetupInterface(const char *device, int devId)
{
    const int caller_errno = errno;
    wpisim::i2c::set_up();
    const std::string path = device != nullptr ? device : "";
    int error = 0;
    const int fd = open_bus(path, &error);
    wpisim::Record rec("i2c-setup");
    rec.text("device", path).num("address", devId);
    if (fd < 0) {
        rec.num("result", -1).num("errno", error).emit();
        errno = error;
        wpisim::pi::library_failure(WPI_ALMOST, "Unable to open I2C device: %s\n",
                                    std::strerror(error));
        errno = error;
        return -1;
    }
    // i2c-dev's client starts at address 0. A negative devId is a huge
    // unsigned long to the ioctl.
    slaves[fd].store(1);
    if (select_slave(fd, static_cast<unsigned long>(static_cast<long>(devId))) != 0) {
        // The library leaves the device open.
        error = errno;
        rec.num("result", -1).num("errno", error).emit();
        wpisim::pi::library_failure(WPI_ALMOST, "Unable to select I2C device: %s\n",
                                    std::strerror(error));
        errno = error;
        return -1;
    }
    rec.num("result", fd).num("errno", 0).emit();
    errno = caller_errno;
    return fd;
}

int wiringPiI2CSetup(const int devId)
{
    return wiringPiI2CSetupInterface(header_bus().c_str(), devId);
}

int wiringPiI2CRead(int fd)
{
    i2c_smbus_data data{};
    if (access("wiringPiI2CRead", fd, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data) != 0)
        return -1;
    return data.byte & 0xff;
}

int wiringPiI2CReadReg8(int fd, int reg)
{
    i2c_smbus_data data{};
    if (access("wiringPiI2CReadReg8", fd, I2C_SMBUS_READ, reg, I2C_SMBUS_BYTE_DATA, &data) != 0)
        return -1;
    return data.byte & 0xff;
}

int wiringPiI2CReadReg16(int fd, int reg)
{
    i2c_smbus_data data{};
    if (access("wiringPiI2CReadReg16", fd, I2C_SMBUS_READ, reg, I2C_SMBUS_WORD_DATA, &data) != 0)
        return -1;
    return data.word & 0xffff;
}

int wiringPiI2CReadBlockData(int fd, int reg, uint8_t *values, uint8_t size)
{
    i2c_smbus_data data{};
    if (size > I2C_SMBUS_BLOCK_MAX)
        size = I2C_SMBUS_BLOCK_MAX;
    data.block[0] = size;
    const int result = access("wiringPiI2CReadBlockData", fd, I2C_SMBUS_READ, reg,
                              I2C_SMBUS_I2C_BLOCK_DATA, &data);
    if (result < 0)
        return result;
    std::memcpy(values, &data.block[1], size);
    return data.block[0];
}

int wiringPiI2CRawRead(int fd, uint8_t *values, uint8_t size)
{
    if (slave_of(fd) < 0)
        return static_cast<int>(real<read_fn>("read")(fd, values, size));
    return static_cast<int>(plain("wiringPiI2CRawRead", fd, values, size, true));
}

int wiringPiI2CWrite(int fd, int data)
{
    return access("wiringPiI2CWrite", fd, I2C_SMBUS_WRITE, data, I2C_SMBUS_BYTE, nullptr);
}

int wiringPiI2CWriteReg8(int fd, int reg, int data)
{
    i2c_smbus_data value{};
    value.byte = static_cast<std::uint8_t>(data);
    return access("wiringPiI2CWriteReg8", fd, I2C_SMBUS_WRITE, reg, I2C_SMBUS_BYTE_DATA, &value);
}

int wiringPiI2CWriteReg16(int fd, int reg, int data)
{
    i2c_smbus_data value{};
    value.word = static_cast<std::uint16_t>(data);
    return access("wiringPiI2CWriteReg16", fd, I2C_SMBUS_WRITE, reg, I2C_SMBUS_WORD_DATA, &value);
}

int wiringPiI2CWriteBlockData(int fd, int reg, const uint8_t *values, uint8_t size)
{
    i2c_smbus_data data{};
    if (size > I2C_SMBUS_BLOCK_MAX)
        size = I2C_SMBUS_BLOCK_MAX;
    data.block[0] = size;
    std::memcpy(&data.block[1], values, size);
    return access("wiringPiI2CWriteBlockData", fd, I2C_SMBUS_WRITE, reg, I2C_SMBUS_BLOCK_DATA,
                  &data);
}

int wiringPiI2CRawWrite(int fd, const uint8_t *values, uint8_t size)
{
    if (slave_of(fd) < 0)
        return static_cast<int>(real<write_fn>("write")(fd, values, size));
    return static_cast<int>(
        plain("wiringPiI2CRawWrite", fd, const_cast<uint8_t *>(values), size, false));
}

// In front of the C library's: i2c-dev on our descriptors, the C library's
// own calls on every other.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the C library's
ssize_t read(int fd, void *buf, size_t count)
{
    static const auto f = real<read_fn>("read");
    return slave_of(fd) < 0 ? f(fd, buf, count) : plain("read", fd, buf, count, true);
}

// The C library's read for a buffer of known size (_FORTIFY_SOURCE).
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
ssize_t __read_chk(int fd, void *buf, size_t count, size_t room)
{
    using chk_fn = ssize_t (*)(int, void *, size_t, size_t);
    static const auto f = real<chk_fn>("__read_chk");
    if (slave_of(fd) < 0 || count > room)
        return f(fd, buf, count, room);
    return plain("read", fd, buf, count, true);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the C library's
ssize_t write(int fd, const void *buf, size_t count)
{
    static const auto f = real<write_fn>("write");
    return slave_of(fd) < 0 ? f(fd, buf, count)
                            : plain("write", fd, const_cast<void *>(buf), count, false);
}

int ioctl(int fd, unsigned long request, ...) noexcept
{
    std::va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (slave_of(fd) < 0)
        return real_ioctl(fd, request, arg);
    return i2c_dev_ioctl(fd, request, arg);
}

int close(int fd)
{
    static const auto f = real<close_fn>("close");
    if (fd >= 0 && fd < max_fd)
        slaves[fd].store(0);
    return f(fd);
}

} // extern "C"
