// The machine states the suite expects after a request, as assertions that say what is
// wrong when they fail.
#pragma once

#include "file_fixtures.h"
#include "simulated_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

enum class Bitness { k32, k64 };

using Lines = std::vector<std::wstring>;

// Files and folders through Win32 itself, which takes paths longer than MAX_PATH where the
// C++ library's file functions do not.
bool PathExists(const std::wstring& path);
std::vector<std::wstring> EntriesIn(const std::wstring& folder);  // without "." and ".."
void CreateFolders(const std::wstring& path);                     // with missing parents
void RemoveTree(const std::wstring& path);

// An agent folder at `leaf` below a fresh temporary folder, laid out as the agent lays it
// out: "Install" with both v1 add-in files and an empty "temp". The temporary folder is
// removed with everything in it at the end of the scope, through Win32 alone.
class AgentFolder {
public:
    explicit AgentFolder(const std::wstring& leaf);
    ~AgentFolder() { RemoveTree(base_); }
    AgentFolder(const AgentFolder&) = delete;
    AgentFolder& operator=(const AgentFolder&) = delete;

    const std::wstring& path() const { return path_; }

private:
    std::wstring base_;
    std::wstring path_;
};

// The DLL that the add-in's COM class names in that view, whatever its length; empty when
// the class is not registered there.
std::wstring ClassServerPath(DWORD view);

// Nothing of the add-in: no file deployed in the agent folder, no add-in key and no COM
// class in either view, and in "temp" only files set aside for deletion at the next restart.
::testing::AssertionResult HoldsNothing(const std::wstring& agentFolder, const PendingRenames& pending);
::testing::AssertionResult HoldsNothing(const SimulatedMachine& machine, const PendingRenames& pending);

// The add-in of that bitness in place: its file deployed, its key naming the file in its
// view, its COM class registered for the deployed file, and a Repair by a fresh installer
// that finds nothing to repair (6).
::testing::AssertionResult FullyWorking(const std::wstring& agentFolder, Bitness bitness);
::testing::AssertionResult FullyWorking(const SimulatedMachine& machine, Bitness bitness);

// What a request that returned `result` logs at level 3 when the engine logged nothing
// at that level.
Lines StartFailureAndEnd(const std::wstring& request, unsigned int result);

// A test on a simulated machine with a 64-bit Outlook 2013 or a 32-bit Outlook 2010 and
// the add-in's files in "Install". Deletions scheduled during the test are forgotten
// again at its end, and no broker process may outlive it.
class OutlookMachineTest : public ::testing::Test {
protected:
    explicit OutlookMachineTest(Bitness bitness);
    void TearDown() override;

    Lines Errors() const { return machine.logger.TextsAt(5); }
    Lines Infos() const { return machine.logger.TextsAt(3); }

    PendingRenames pending;
    SimulatedMachine machine;
};
