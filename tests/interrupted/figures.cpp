#include "figures.h"

#include <iomanip>

Figures& Figures::Get() {
    static Figures figures;
    return figures;
}

KillFigures& Figures::Kills(const std::string& scenario, const std::string& procedure) {
    return kills_[scenario][procedure];
}

void Figures::Print(std::ostream& out, int brokersRunning) const {
    out << "\nReliability figures\n";
    out << "Interrupted runs (host killed at a seeded random moment, then Repair, Repair, "
           "Uninstall):\n";
    std::map<std::string, KillFigures> total;
    for (const auto& [scenario, procedures] : kills_) {
        for (const auto& [procedure, figures] : procedures) {
            out << "  " << scenario << ", " << procedure << ": " << figures.tried << " tried, "
                << figures.interrupted << " killed inside the request, " << figures.restored
                << " restored; request " << std::fixed << std::setprecision(1) << figures.requestMs
                << " ms, seed " << figures.seed << "\n";
            KillFigures& sum = total[procedure];
            sum.tried += figures.tried;
            sum.interrupted += figures.interrupted;
            sum.restored += figures.restored;
        }
    }
    for (const auto& [procedure, figures] : total)
        out << "  " << procedure << " in all: " << figures.tried << " tried, "
            << figures.interrupted << " killed inside the request, " << figures.restored
            << " restored\n";
    out << "  Registration brokers still running at the end: " << brokersRunning
        << " (stood by for a request killed before it called, or called by a host killed during"
           " the call; none is ever killed)\n";
    out << "Write scope (full listing of the prefix's files and registry before and after):\n"
        << "  " << writeScope_.checked << " procedures checked, " << writeScope_.clean
        << " wrote only in their places (" << writeScope_.changes << " entries changed in all)\n";
}
