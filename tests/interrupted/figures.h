// The figures the reliability suite prints at the end of its run.
#pragma once

#include <map>
#include <ostream>
#include <string>

struct KillFigures {
    int tried = 0;        // hosts started and killed at a drawn moment
    int interrupted = 0;  // of those, killed before the request's end line
    int restored = 0;     // repaired to a verified state and then uninstalled to nothing
    unsigned seed = 0;
    double requestMs = 0;  // measured duration of the request, the range of the drawn delays
};

struct WriteScopeFigures {
    int checked = 0;  // procedures whose writes were compared with a listing of the prefix
    int clean = 0;    // of those, procedures that wrote only in their places
    int changes = 0;  // entries the checked procedures added, removed or changed
};

class Figures {
public:
    static Figures& Get();
    // scenario: "64-bit Outlook"; procedure: "Install"
    KillFigures& Kills(const std::string& scenario, const std::string& procedure);
    WriteScopeFigures& WriteScope() { return writeScope_; }
    // brokersRunning: registration broker processes still running at the end.
    void Print(std::ostream& out, int brokersRunning) const;

private:
    std::map<std::string, std::map<std::string, KillFigures>> kills_;
    WriteScopeFigures writeScope_;
};
