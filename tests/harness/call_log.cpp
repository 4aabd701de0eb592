// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
#include "call_log.hpp"

#include <hex.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace harness
{

const std::string &Call::at(const std::string &key) const
{
    const auto it = fields.find(key);
    if (it == fields.end())
        throw std::runtime_error(event + " has no field " + key);
    return it->second;
}

std::int64_t Call::num(const std::string &key) const
{
    return std::stoll(at(key));
}

std::string Call::bytes(const std::string &key) const
{
    const std::string &hex = at(key);
    if (hex == "-")
        return {};
    const auto decoded = wpisim::hex::decode(hex);
    if (!decoded)
        throw std::runtime_error(event + ": " + key + " is not hex: " + hex);
    return {decoded->begin(), decoded->end()};
}

std::vector<Call> read_call_log(const std::string &path)
{
    std::vector<Call> calls;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        Call call;
        words >> call.event;
        std::string word;
        while (words >> word) {
            const std::size_t eq = word.find('=');
            if (eq != std::string::npos)
                call.fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
        calls.push_back(call);
    }
    return calls;
}

std::vector<Call> only(const std::vector<Call> &calls, const std::string &event)
{
    std::vector<Call> picked;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(picked),
                 [&](const Call &c) { return c.event == event; });
    return picked;
}

std::vector<std::string> events(const std::vector<Call> &calls)
{
    std::vector<std::string> names(calls.size());
    std::transform(calls.begin(), calls.end(), names.begin(),
                   [](const Call &c) { return c.event; });
    return names;
}

} // namespace harness
