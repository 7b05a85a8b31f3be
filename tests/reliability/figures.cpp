#include "figures.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kKindProperty = "reliability_case";
constexpr const char* kTraceProperty = "leaves_a_trace";

const char* KindName(CaseKind kind) {
    switch (kind) {
        case CaseKind::Fault: return "fault";
        case CaseKind::HostileInput: return "hostile_input";
        case CaseKind::RepeatOrOrder: return "repeat_or_order";
    }
    return "";
}

}  // namespace

void CountAs(CaseKind kind) { ::testing::Test::RecordProperty(kKindProperty, KindName(kind)); }

void LeavesATrace(const char* what) { ::testing::Test::RecordProperty(kTraceProperty, what); }

void FiguresPrinter::OnTestEnd(const ::testing::TestInfo& test) {
    const ::testing::TestResult& result = *test.result();
    Tally* tally = nullptr;
    const char* trace = nullptr;
    for (int i = 0; i < result.test_property_count(); ++i) {
        const ::testing::TestProperty& property = result.GetTestProperty(i);
        if (std::strcmp(property.key(), kTraceProperty) == 0) trace = property.value();
        if (std::strcmp(property.key(), kKindProperty) != 0) continue;
        if (std::strcmp(property.value(), KindName(CaseKind::Fault)) == 0) tally = &faults_;
        if (std::strcmp(property.value(), KindName(CaseKind::HostileInput)) == 0) tally = &hostile_;
        if (std::strcmp(property.value(), KindName(CaseKind::RepeatOrOrder)) == 0) tally = &repeats_;
    }
    if (!tally) return;
    ++tally->tried;
    if (result.Passed() && !trace) ++tally->cameThrough;
    if (trace)
        traces_.push_back(std::string(test.test_suite_name()) + "." + test.name() + ": " + trace);
}

void FiguresPrinter::OnTestProgramEnd(const ::testing::UnitTest&) {
    SYSTEMTIME today;
    GetLocalTime(&today);
    std::printf(
        "\nReliability figures (%04u-%02u-%02u):\n"
        "  faults tried %d, survived %d\n"
        "  hostile inputs tried %d, handled %d\n"
        "  repeat and order cases tried %d, passed %d\n",
        today.wYear, today.wMonth, today.wDay, faults_.tried, faults_.cameThrough, hostile_.tried,
        hostile_.cameThrough, repeats_.tried, repeats_.cameThrough);
    for (const std::string& trace : traces_) std::printf("  leaves a trace: %s\n", trace.c_str());
    std::fflush(stdout);
}
