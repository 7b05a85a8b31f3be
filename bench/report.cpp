#include "report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <filesystem>

namespace {

constexpr double kMillisecondsPerSecond = 1e3;
constexpr double kMicrosecondsPerSecond = 1e6;

double CounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart);
}

void PrintLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string FigureLine(const Figure& f) {
    return Format("%-46s median %11.3f %-9s min %11.3f  max %11.3f  IQR %.3f..%.3f  n=%zu",
                  f.id.c_str(), f.Median(), f.unit.c_str(), f.Min(), f.Max(), f.Quantile(0.25),
                  f.Quantile(0.75), f.values.size());
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            out += Format("\\u%04x", c);
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string Number(double value) { return Format("%.6g", value); }

}  // namespace

Stopwatch::Stopwatch() { QueryPerformanceCounter(&start_); }

double Stopwatch::Seconds() const {
    static const double frequency = CounterFrequency();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) / frequency;
}

double Figure::Quantile(double q) const {
    if (values.empty()) return 0;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const double position = q * static_cast<double>(sorted.size() - 1);
    const size_t below = static_cast<size_t>(position);
    if (below + 1 >= sorted.size()) return sorted.back();
    const double fraction = position - static_cast<double>(below);
    return sorted[below] + fraction * (sorted[below + 1] - sorted[below]);
}

const Figure& Report::Add(Figure figure) {
    PrintLine(FigureLine(figure));
    figures_.push_back(std::move(figure));
    return figures_.back();
}

const Figure& Report::AddMilliseconds(const std::string& id, const std::vector<double>& seconds,
                                      const std::string& note) {
    Figure figure{id, "ms", {}, note};
    for (const double s : seconds) figure.values.push_back(s * kMillisecondsPerSecond);
    return Add(std::move(figure));
}

const Figure& Report::AddMicrosecondsPer(const std::string& id, const std::string& item,
                                         double count, const std::vector<double>& seconds,
                                         const std::string& note) {
    Figure figure{id, "us/" + item, {}, note};
    for (const double s : seconds) figure.values.push_back(s * kMicrosecondsPerSecond / count);
    return Add(std::move(figure));
}

const Figure* Report::Find(const std::string& id) const {
    for (const Figure& figure : figures_)
        if (figure.id == id) return &figure;
    return nullptr;
}

double Report::MedianOf(const std::string& id) const {
    const Figure* figure = Find(id);
    return figure ? figure->Median() : 0;
}

void Report::Check(TargetCheck check) {
    PrintLine(Format("TARGET %-44s %-6s %7.2f (limit %.2f; of minima %.2f)  %s", check.target.c_str(),
                     check.met() ? "met" : "MISSED", check.value, check.limit, check.ofMinima,
                     check.measured.c_str()));
    checks_.push_back(std::move(check));
}

void Report::Say(const std::string& line) {
    PrintLine(line);
    lines_.push_back(line);
}

void Report::PrintSummary() const {
    PrintLine("");
    PrintLine("== Summary: one line per figure (median [min..max])");
    for (const Figure& f : figures_)
        PrintLine(Format("SUMMARY %-46s %11.3f %-9s [%.3f..%.3f]", f.id.c_str(), f.Median(),
                         f.unit.c_str(), f.Min(), f.Max()));
    PrintLine("== Targets (measured / limit; met when the value is at most the limit)");
    for (const TargetCheck& c : checks_)
        PrintLine(Format("TARGET %-44s %-6s %7.2f (limit %.2f; of minima %.2f)  %s", c.target.c_str(),
                         c.met() ? "met" : "MISSED", c.value, c.limit, c.ofMinima, c.measured.c_str()));
}

bool Report::WriteJson(const std::wstring& path,
                       const std::vector<std::pair<std::string, std::string>>& about) const {
    std::ofstream out{std::filesystem::path(path)};
    if (!out) return false;
    out << "{\n";
    for (const auto& [name, value] : about) out << "  " << Quoted(name) << ": " << Quoted(value) << ",\n";
    out << "  \"figures\": [\n";
    for (size_t i = 0; i < figures_.size(); ++i) {
        const Figure& f = figures_[i];
        out << "    {\"id\": " << Quoted(f.id) << ", \"unit\": " << Quoted(f.unit)
            << ", \"median\": " << Number(f.Median()) << ", \"min\": " << Number(f.Min())
            << ", \"max\": " << Number(f.Max()) << ", \"q1\": " << Number(f.Quantile(0.25))
            << ", \"q3\": " << Number(f.Quantile(0.75)) << ", \"n\": " << f.values.size();
        if (!f.note.empty()) out << ", \"note\": " << Quoted(f.note);
        out << ", \"values\": [";
        for (size_t v = 0; v < f.values.size(); ++v) out << (v ? ", " : "") << Number(f.values[v]);
        out << "]}" << (i + 1 < figures_.size() ? "," : "") << "\n";
    }
    out << "  ],\n  \"targets\": [\n";
    for (size_t i = 0; i < checks_.size(); ++i) {
        const TargetCheck& c = checks_[i];
        out << "    {\"target\": " << Quoted(c.target) << ", \"value\": " << Number(c.value)
            << ", \"limit\": " << Number(c.limit) << ", \"of_minima\": " << Number(c.ofMinima)
            << ", \"met\": " << (c.met() ? "true" : "false")
            << ", \"measured\": " << Quoted(c.measured) << "}" << (i + 1 < checks_.size() ? "," : "")
            << "\n";
    }
    out << "  ],\n  \"lines\": [\n";
    for (size_t i = 0; i < lines_.size(); ++i)
        out << "    " << Quoted(lines_[i]) << (i + 1 < lines_.size() ? "," : "") << "\n";
    out << "  ]\n}\n";
    return static_cast<bool>(out);
}

void CheckFlat(Report& report, const std::string& target, const std::vector<const Figure*>& bySize,
               double limit) {
    if (bySize.size() < 2) return;
    const Figure& largest = *bySize.back();
    const Figure* lowest = bySize.front();
    double lowestMinimum = bySize.front()->Min();
    for (size_t i = 1; i + 1 < bySize.size(); ++i) {
        if (bySize[i]->Median() < lowest->Median()) lowest = bySize[i];
        if (bySize[i]->Min() < lowestMinimum) lowestMinimum = bySize[i]->Min();
    }
    report.Check({target, Format("%s %.3f %s vs %s %.3f", largest.id.c_str(), largest.Median(), largest.unit.c_str(),
                                 lowest->id.c_str(), lowest->Median()),
                  largest.Median() / lowest->Median(), limit, largest.Min() / lowestMinimum});
}

std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, arguments);
    va_end(arguments);
    return text;
}
