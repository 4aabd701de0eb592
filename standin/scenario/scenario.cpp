// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// Reading a scenario file. toml++ is compiled here too, header-only.
#include "scenario.hpp"

#include "message.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <toml++/toml.h>

namespace wpisim
{

namespace
{

int line_of(const toml::node &n)
{
    return static_cast<int>(n.source().begin.line);
}

// What a step's own key holds.
enum class Holds { text, gpio, time, status };

// The keys that name a step's kind (every step has exactly one), what each
// holds, and the other keys the kind takes.
struct KindKey {
    const char *key;
    StepKind kind;
    Holds holds;
    const char *others;
};
constexpr KindKey kind_keys[] = {
    {"output", StepKind::output, Holds::text, "within"},
    {"type", StepKind::type, Holds::text, ""},
    {"serial", StepKind::serial, Holds::text, "board within"},
    {"send_serial", StepKind::send_serial, Holds::text, "board"},
    {"drive", StepKind::drive, Holds::gpio, "level"},
    {"pin", StepKind::pin, Holds::gpio, "level"},
    {"pwm", StepKind::pwm, Holds::gpio, "duty tolerance hz"},
    {"wait", StepKind::wait, Holds::time, ""},
    {"exit", StepKind::exit, Holds::status, "within"},
};

class Reader
{
  public:
    Reader(std::string path, Scenario &s) : path_(std::move(path)), s_(s) {}

    void run(const toml::table &root)
    {
        for (auto &&[key, node] : root) {
            const std::string name(key.str());
            const int line = static_cast<int>(key.source().begin.line);
            if (name == "timeout") {
                s_.timeout_ns = time_of(node, "timeout");
            } else if (name == "status") {
                s_.status = status_of(node, "status");
            } else if (name == "expect" || name == "forbid") {
                for (const std::string &t : texts(node, name))
                    (name == "expect" ? s_.expect : s_.forbid).push_back(t);
            } else if (name == "step") {
                const toml::array *steps = node.as_array();
                if (steps == nullptr || !steps->is_array_of_tables()) {
                    error(line, "step: wants [[step]] tables");
                    continue;
                }
                for (const toml::node &n : *steps)
                    read_step(*n.as_table());
            } else {
                error(line, quoted(name) +
                                ": not a scenario key (timeout, status, expect, forbid, [[step]])");
            }
        }
    }

    std::vector<std::string> errors;

  private:
    void error(int line, const std::string &what)
    {
        errors.push_back(path_ + ":" + std::to_string(line) + ": " + what);
    }

    std::int64_t time_of(const toml::node &n, const std::string &key)
    {
        const auto *v = n.as_string();
        const std::int64_t ns = v != nullptr ? duration_ns(v->get()) : -1;
        if (ns < 0)
            error(line_of(n), key + R"(: wants a time such as "500ms" or "2s")");
        return ns < 0 ? 0 : ns;
    }

    int status_of(const toml::node &n, const std::string &key)
    {
        const auto *v = n.as_integer();
        if (v == nullptr || v->get() < 0 || v->get() > 255) {
            error(line_of(n), key + ": wants an exit status, 0 to 255");
            return 0;
        }
        return static_cast<int>(v->get());
    }

    std::vector<std::string> texts(const toml::node &n, const std::string &key)
    {
        std::vector<std::string> out;
        if (const auto *v = n.as_string())
            out.push_back(v->get());
        else if (const toml::array *a = n.as_array();
                 a != nullptr && a->is_homogeneous<std::string>())
            for (const toml::node &e : *a)
                out.push_back(e.as_string()->get());
        else
            error(line_of(n), key + ": wants a text or a list of texts");
        for (const std::string &t : out)
            if (t.empty())
                error(line_of(n), key + ": an empty text is found everywhere");
        return out;
    }

    std::string text_of(const toml::node &n, const std::string &key, bool empty_ok = false)
    {
        const auto *v = n.as_string();
        if (v == nullptr || (!empty_ok && v->get().empty())) {
            error(line_of(n), key + ": wants a text");
            return "";
        }
        return v->get();
    }

    int gpio_of(const toml::node &n, const std::string &key)
    {
        const auto *v = n.as_integer();
        if (v == nullptr || v->get() < 0 || v->get() > 53) {
            error(line_of(n), key + ": wants a GPIO number (BCM), 0 to 53");
            return 0;
        }
        return static_cast<int>(v->get());
    }

    int level_of(const toml::node &n, bool floating)
    {
        const auto *v = n.as_string();
        const std::string word = v != nullptr ? v->get() : "";
        if (word == "low")
            return 0;
        if (word == "high")
            return 1;
        if (word == "float" && floating)
            return 2;
        error(line_of(n), std::string("level: wants ") +
                              (floating ? R"("high", "low" or "float")" : R"("high" or "low")"));
        return 0;
    }

    double percent_of(const toml::node &n, const std::string &key)
    {
        const std::optional<double> v = n.value<double>();
        if (!v || *v < 0 || *v > 100 || std::isnan(*v)) {
            error(line_of(n), key + ": wants a percentage, 0 to 100");
            return 0;
        }
        return *v;
    }

    double hz_of(const toml::node &n)
    {
        const std::optional<double> v = n.value<double>();
        if (!v || !(*v > 0) || *v > 1e9) {
            error(line_of(n), "hz: wants a frequency in Hz, above 0");
            return 0;
        }
        return *v;
    }

    void read_other(Step &step, const std::string &name, const toml::node &node)
    {
        if (name == "within")
            step.ns = time_of(node, "within");
        else if (name == "board")
            step.board = text_of(node, "board");
        else if (name == "level")
            step.level = level_of(node, step.kind == StepKind::drive);
        else if (name == "duty")
            step.duty = percent_of(node, "duty");
        else if (name == "tolerance")
            step.tolerance = percent_of(node, "tolerance");
        else if (name == "hz")
            step.hz = hz_of(node);
    }

    void read_main(Step &step, const KindKey &k, const toml::node &main)
    {
        switch (k.holds) {
        case Holds::text:
            step.text = text_of(main, k.key);
            break;
        case Holds::gpio:
            step.gpio = gpio_of(main, k.key);
            break;
        case Holds::time:
            step.ns = time_of(main, k.key);
            break;
        case Holds::status:
            step.status = status_of(main, k.key);
            break;
        }
    }

    void read_step(const toml::table &t)
    {
        Step step;
        step.line = line_of(t);
        const KindKey *kind = nullptr;
        for (const KindKey &k : kind_keys) {
            if (!t.contains(k.key))
                continue;
            if (kind != nullptr) {
                error(step.line,
                      std::string("a step does one thing: ") + kind->key + " or " + k.key);
                return;
            }
            kind = &k;
        }
        if (kind == nullptr) {
            error(step.line, "a step without a kind (output, type, serial, send_serial, drive, "
                             "pin, pwm, wait or exit)");
            return;
        }
        step.kind = kind->kind;
        step.ns = default_within_ns;
        read_main(step, *kind, *t.get(kind->key));
        const std::string allowed = kind->others;
        for (auto &&[key, node] : t) {
            const std::string name(key.str());
            if (name == kind->key)
                continue;
            if ((" " + allowed + " ").find(" " + name + " ") == std::string::npos) {
                error(line_of(node), quoted(name) + ": not a key of a " + kind->key + " step" +
                                         (allowed.empty() ? "" : " (" + allowed + ")"));
                continue;
            }
            read_other(step, name, node);
        }
        if ((step.kind == StepKind::drive || step.kind == StepKind::pin) && step.level < 0)
            error(step.line, std::string(kind->key) + ": wants a level");
        if (step.kind == StepKind::pwm && !t.contains("duty"))
            error(step.line, "pwm: wants a duty, in percent");
        s_.steps.push_back(step);
    }

    std::string path_;
    Scenario &s_;
};

} // namespace

std::vector<std::string> read_scenario(const std::string &path, Scenario &s)
{
    s.file = path;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {path + ": cannot be read"};
    std::stringstream text;
    text << in.rdbuf();
    Reader reader(path, s);
    try {
        reader.run(toml::parse(text.str(), path));
    } catch (const toml::parse_error &e) {
        reader.errors.push_back(path + ":" + std::to_string(e.source().begin.line) + ": " +
                                std::string(e.description()));
    }
    return reader.errors;
}

std::int64_t duration_ns(const std::string &text)
{
    struct Unit {
        const char *name;
        double ns;
    };
    static const Unit units[] = {{"ns", 1}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}, {"min", 60e9}};
    std::size_t end = 0;
    while (end < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[end])) != 0 || text[end] == '.'))
        ++end;
    if (end == 0)
        return -1;
    double value = 0;
    try {
        value = std::stod(text.substr(0, end));
    } catch (const std::exception &) {
        return -1;
    }
    for (const Unit &u : units) {
        if (text.substr(end) == u.name) {
            const double ns = value * u.ns;
            // A year of simulated time is more than any run wants.
            if (ns > 3.2e16)
                return -1;
            return static_cast<std::int64_t>(std::llround(ns));
        }
    }
    return -1;
}

std::string duration_text(std::int64_t ns)
{
    char text[32];
    if (ns >= 1000000000 || ns == 0)
        std::snprintf(text, sizeof text, "%g s", static_cast<double>(ns) / 1e9);
    else if (ns >= 1000000)
        std::snprintf(text, sizeof text, "%g ms", static_cast<double>(ns) / 1e6);
    else if (ns >= 1000)
        std::snprintf(text, sizeof text, "%g us", static_cast<double>(ns) / 1e3);
    else
        std::snprintf(text, sizeof text, "%lld ns", static_cast<long long>(ns));
    return text;
}

std::string step_text(const Step &s)
{
    const std::string on = s.board.empty() ? "" : " on " + s.board;
    static const char *const levels[] = {"low", "high", "float"};
    const char *level = s.level >= 0 && s.level <= 2 ? levels[s.level] : "?";
    char duty[64];
    std::snprintf(duty, sizeof duty, "%g%% (within %g)", s.duty, s.tolerance);
    switch (s.kind) {
    case StepKind::output:
        return "output " + quoted(s.text);
    case StepKind::type:
        return "type " + quoted(s.text);
    case StepKind::serial:
        return "serial" + on + " " + quoted(s.text);
    case StepKind::send_serial:
        return "send_serial" + on + " " + quoted(s.text);
    case StepKind::drive:
        return "drive GPIO " + std::to_string(s.gpio) + " " + level;
    case StepKind::pin:
        return "pin GPIO " + std::to_string(s.gpio) + " " + level;
    case StepKind::pwm:
        return "pwm GPIO " + std::to_string(s.gpio) + " " + duty +
               (s.hz > 0
                    ? " at " + std::to_string(static_cast<long long>(std::llround(s.hz))) + " Hz"
                    : "");
    case StepKind::wait:
        return "wait " + duration_text(s.ns);
    case StepKind::exit:
        return "exit " + std::to_string(s.status);
    }
    return "";
}

} // namespace wpisim
