// Figures of the benchmark: each repetition's value, printed as median and spread when
// it is measured, summarised at the end and written to a JSON file.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

// Wall time inside the process, from the performance counter.
class Stopwatch {
public:
    Stopwatch();
    double Seconds() const;

private:
    LARGE_INTEGER start_;
};

template <typename Action>
double SecondsOf(Action&& action) {
    const Stopwatch stopwatch;
    action();
    return stopwatch.Seconds();
}

// One measured quantity, every repetition's value in `unit`.
struct Figure {
    std::string id;
    std::string unit;
    std::vector<double> values;
    std::string note;  // what the figure is, where that is not obvious from its id

    double Quantile(double q) const;  // linear between order statistics; 0 when empty
    double Median() const { return Quantile(0.5); }
    double Min() const { return Quantile(0.0); }
    double Max() const { return Quantile(1.0); }
};

// A target of the issue, checked on the medians: met when value <= limit. The same ratio
// of the minima is shown beside it: on a shared machine it is the least disturbed reading.
struct TargetCheck {
    std::string target;
    std::string measured;
    double value;
    double limit;
    double ofMinima;
    bool met() const { return value <= limit; }
};

class Report {
public:
    // Prints the figure's line at once; keeps it for the summary and the JSON file.
    const Figure& Add(Figure figure);
    // Seconds per repetition, shown in milliseconds or in microseconds per `count` items.
    const Figure& AddMilliseconds(const std::string& id, const std::vector<double>& seconds,
                                  const std::string& note = {});
    const Figure& AddMicrosecondsPer(const std::string& id, const std::string& item, double count,
                                     const std::vector<double>& seconds, const std::string& note = {});
    const Figure* Find(const std::string& id) const;
    double MedianOf(const std::string& id) const;  // 0 for an unknown figure

    void Check(TargetCheck check);
    // A line of its own (a heading, a warning); printed now and kept in the JSON file.
    void Say(const std::string& line);
    void PrintSummary() const;
    bool WriteJson(const std::wstring& path,
                   const std::vector<std::pair<std::string, std::string>>& about) const;

private:
    std::deque<Figure> figures_;  // figures handed out stay where they are
    std::vector<TargetCheck> checks_;
    std::vector<std::string> lines_;
};

// Per-item cost flat with size: the largest size's median against the lowest median of
// the smaller sizes (small sizes carry fixed costs, so the first size alone would hide growth).
void CheckFlat(Report& report, const std::string& target, const std::vector<const Figure*>& bySize,
               double limit);

std::string Format(const char* format, ...);
