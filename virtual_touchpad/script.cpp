#include "script.h"

#include <cctype>

namespace vtp {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

bool ValidPad(std::string_view name) {
    if (name.empty() || name.size() > 32) {
        return false;
    }
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
            return false;
        }
    }
    return true;
}

} // namespace

bool ParseScript(std::string_view text, std::vector<Step>& steps, std::string& error) {
    steps.clear();
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        const size_t space = line.find_first_of(" \t");
        const std::string_view word = line.substr(0, space);
        const std::string_view rest =
            space == std::string_view::npos ? std::string_view() : Trim(line.substr(space));
        const std::string where = "line " + std::to_string(number) + ": ";
        Step step;
        step.line = number;
        if (word == "wait") {
            step.kind = Step::Kind::Wait;
            if (rest.empty() || rest.size() > 7 ||
                rest.find_first_not_of("0123456789") != std::string_view::npos) {
                error = where + "wait takes milliseconds, 0 to 9999999";
                return false;
            }
            step.ms = static_cast<uint32_t>(std::stoul(std::string(rest)));
        } else if (word == "remove" || word == "add") {
            step.kind = word == "remove" ? Step::Kind::Remove : Step::Kind::Add;
            if (!ValidPad(rest)) {
                error = where + std::string(word) + " takes one pad's name";
                return false;
            }
            step.pad = std::string(rest);
        } else {
            if (!ValidPad(word)) {
                error = where + "'" + std::string(word) + "' is neither a step nor a pad's name";
                return false;
            }
            step.pad = std::string(word);
            std::string hexError;
            if (!ParseHex(rest, step.report, hexError) || step.report.empty()) {
                error = where + (step.report.empty() && hexError.empty() ? "a report of no bytes"
                                                                         : hexError);
                return false;
            }
        }
        steps.push_back(std::move(step));
    }
    return true;
}

bool SplitArguments(std::string_view text, std::vector<std::string>& words, std::string& error) {
    words.clear();
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string word;
        bool inWord = false;
        bool quoted = false;
        for (const char c : line) {
            if (c == '"') {
                quoted = !quoted;
                inWord = true;
            } else if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
                if (inWord) {
                    words.push_back(std::move(word));
                    word.clear();
                    inWord = false;
                }
            } else {
                word += c;
                inWord = true;
            }
        }
        if (quoted) {
            error = "line " + std::to_string(number) + ": a quote that is not closed";
            return false;
        }
        if (inWord) {
            words.push_back(std::move(word));
        }
    }
    return true;
}

} // namespace vtp
