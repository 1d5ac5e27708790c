// A Scala scale (.scl) read from its text, as scale editors write it. A
// line whose first character (after blanks) is '!' is a comment, anywhere.
// Of the other lines, the first describes the scale (it may be empty), the
// next holds the number of degrees N, and N lines follow with one degree
// each: a ratio n/d, a whole number n (n/1), or cents, a number with a '.'
// ("701.955", "100.", "-5.0"). Blanks before a value and anything after it
// (a comment, a name) are passed over. 1/1 is every scale's implied first
// degree and never written; the last degree is the period.
// Numbers: ratio terms 1..2^31-1; cents -999999.99..999999.99 (beyond
// every key's reach either way); values as ratios to 1/1, > 0.
// Lines are counted from 1; a line feed ends a line and a carriage return
// before it is no part of it (files from other systems). The first thing
// wrong stops the reading and is named with its line.
#pragma once

#include <cmath>
#include <string>
#include <vector>

class ScaleText {
public:
    static constexpr int kMostDegrees = 4096;  // no keyboard reaches further
    static constexpr long long kMostTerm = 2147483647;
    static constexpr double kMostCents = 1000000;

    struct Degree {
        double value = 1;     // as a ratio to 1/1
        bool cents = false;   // written in cents (else as a ratio)
        std::string written;  // the value as the file writes it
        int line = 0;
    };

    // The first thing wrong with a text: its line (0 when none) and what.
    struct Problem {
        int line = 0;
        std::string what;
        bool at(int l, const std::string& w) {
            line = l;
            what = w;
            return false;
        }
    };

    std::string description;
    std::vector<Degree> degrees;  // after 1/1, the period last
    Problem problem;

    // Reads a whole scale; false at the first problem.
    bool parse(const std::string& text) {
        degrees.clear();
        description.clear();
        problem = Problem{};
        Lines lines(text);
        std::string line;
        if (!lines.next(line)) return problem.at(lines.number(), "the file ends before the scale's description");
        description = line;
        if (!lines.next(line)) return problem.at(lines.number(), "the file ends before the number of degrees");
        long long count;
        std::string word = firstWord(line);
        if (!whole(word, kMostDegrees, count))
            return problem.at(lines.number(), "'" + word + "' is not a number of degrees 1.." + std::to_string(kMostDegrees));
        if (count == 0) return problem.at(lines.number(), "a scale of no degrees has no period for the keys to climb by");
        int countLine = lines.number();
        while (static_cast<long long>(degrees.size()) < count) {
            if (!lines.next(line))
                return problem.at(lines.number(), "the file ends after " + std::to_string(degrees.size()) + " of the " +
                                                      std::to_string(count) + " degrees line " + std::to_string(countLine) +
                                                      " counts");
            Degree d;
            d.line = lines.number();
            std::string wrong = value(line, d);
            if (!wrong.empty()) return problem.at(d.line, wrong);
            degrees.push_back(d);
        }
        while (lines.next(line))
            if (!firstWord(line).empty())
                return problem.at(lines.number(), "a degree more than the " + std::to_string(count) + " line " +
                                                      std::to_string(countLine) + " counts");
        return true;
    }

    // The lines of a text that are not comments, in order, with their
    // numbers. A blank line is handed out too: where a value must stand,
    // its absence is the error.
    class Lines {
    public:
        explicit Lines(const std::string& text) : text(text) {}
        bool next(std::string& out) {
            while (at <= text.size()) {
                size_t end = text.find('\n', at);
                if (end == std::string::npos) end = text.size();
                if (end == text.size() && at == end) {  // the empty rest after a final line feed
                    at = end + 1;
                    return false;
                }
                out = text.substr(at, end - at);
                if (!out.empty() && out.back() == '\r') out.pop_back();
                at = end + 1;
                lineNo++;
                size_t first = out.find_first_not_of(" \t");
                if (first == std::string::npos || out[first] != '!') return true;
            }
            return false;
        }
        // The line last handed out (at the end, the file's last line).
        int number() const { return lineNo > 0 ? lineNo : 1; }

    private:
        const std::string& text;
        size_t at = 0;
        int lineNo = 0;
    };

    // The first word of a line (blanks and tabs around words).
    static std::string firstWord(const std::string& line) {
        size_t a = line.find_first_not_of(" \t");
        if (a == std::string::npos) return "";
        size_t b = line.find_first_of(" \t", a);
        return line.substr(a, b == std::string::npos ? std::string::npos : b - a);
    }

    // A whole number of digits alone, 0..most.
    static bool whole(const std::string& w, long long most, long long& out) {
        if (w.empty() || w.size() > 18 || w.find_first_not_of("0123456789") != std::string::npos) return false;
        out = std::stoll(w);
        return out <= most;
    }

    // A plain decimal with at least one digit: digits, at most one '.',
    // an optional sign in front when `sign`. False for anything else.
    static bool decimal(const std::string& w, bool sign, double& out) {
        size_t i = sign && !w.empty() && (w[0] == '-' || w[0] == '+') ? 1 : 0;
        std::string body = w.substr(i);
        if (body.find_first_not_of("0123456789.") != std::string::npos ||
            body.find_first_of("0123456789") == std::string::npos || body.find('.') != body.rfind('.'))
            return false;
        out = std::strtod(body.c_str(), nullptr);
        if (w[0] == '-') out = -out;
        return true;
    }

private:
    // One degree's line into d; what is wrong with it, or "".
    static std::string value(const std::string& line, Degree& d) {
        std::string w = firstWord(line);
        if (w.empty()) return "a degree is missing here (a ratio n/d, a whole number, or cents with a '.')";
        // The value is the leading run of what a value can hold; the rest
        // of the word goes with the comment after it ("5/4,", "3/2major").
        size_t end = w.find_first_not_of("0123456789./+-");
        std::string v = w.substr(0, end);
        d.written = v;
        if (v.find('.') != std::string::npos) {
            double c;
            if (!decimal(v, true, c)) return "'" + w + "' is not a value in cents";
            if (!(std::fabs(c) < kMostCents)) return "'" + v + "' cents is beyond any key's reach";
            d.cents = true;
            d.value = std::exp2(c / 1200);
            return "";
        }
        if (!v.empty() && v[0] == '-') return "'" + w + "' is a negative ratio, which means nothing";
        size_t slash = v.find('/');
        long long n, q = 1;
        std::string top = v.substr(0, slash), bottom = slash == std::string::npos ? "1" : v.substr(slash + 1);
        if (!whole(top, kMostTerm, n) || !whole(bottom, kMostTerm, q))
            return "'" + w + "' is not a ratio n/d of whole numbers 1.." + std::to_string(kMostTerm) +
                   ", a whole number, or cents with a '.'";
        if (n == 0 || q == 0) return "'" + v + "' has a term 0: no ratio";
        d.value = static_cast<double>(n) / static_cast<double>(q);
        return "";
    }
};
