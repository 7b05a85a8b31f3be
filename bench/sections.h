// The benchmark's sections, in the order the run takes them. Each adds its figures and
// the targets it can check to the report.
#pragma once

#include "setup.h"
#include "plan.h"
#include "report.h"

// A result other than the one the scenario must give: said, never asserted.
void Expect(Report& report, const char* what, DWORD got, DWORD expected);

// Install and Uninstall beside the floor, Repair after the deployed DLL was deleted.
void MeasureAgainstFloor(Report& report, const Plan& plan, const InstallerLibrary& library,
                         const OutlookMachine& machine);
// The steps of Install and Uninstall, one by one, through the engine itself.
void MeasureInstallSteps(Report& report, const Plan& plan, const OutlookMachine& machine);
// Uninstall with more and more user hives.
void MeasureUninstallWithUsers(Report& report, const Plan& plan, const InstallerLibrary& library,
                               const OutlookMachine& machine);
// Repair that finds nothing, its steps, and the same with more and more user hives. It
// keeps the add-in DLL loaded in this process (COM's in-process class lookup of an
// apartment class does), so it runs after every section that deletes that DLL.
void MeasureRepairNothing(Report& report, const Plan& plan, const InstallerLibrary& library,
                          const OutlookMachine& machine);
// CopyFiles, VerifyIfFilesExists and DeleteFiles of a profile that deploys one folder.
void MeasureFiles(Report& report, const Plan& plan, const std::wstring& root);
// The INI module on list values and long values.
void MeasureIni(Report& report, const Plan& plan, const std::wstring& root);

// Hosts that hold no apartment. They run when no thread of this process is in one, each on
// a machine of its own, so that an add-in DLL that COM keeps loaded here is none of theirs.
// Requests from a thread that holds no apartment, beside the floor's calls on such a thread.
// Under Wine 8 every one of its repairs that finds nothing costs the process one of at most
// 63 apartments that COM can host in its life (README, "Performance").
void MeasureBareThread(Report& report, const Plan& plan, const InstallerLibrary& library,
                       const OutlookMachine& machine);
// Whole processes: installer-host beside the floor program, and Wine's empty process.
void MeasureProcesses(Report& report, const Plan& plan, const OutlookMachine& machine);
// The first request after LoadLibraryW against the following ones, in processes of their own.
void MeasureFirstRequest(Report& report, const Plan& plan, const OutlookMachine& machine);
// Many repairs from a thread without an apartment, in a process of their own, and the same
// COM calls without the library; a request that does not end is reported, not waited for.
// False when one hung.
bool MeasureLongRun(Report& report, const Plan& plan, const OutlookMachine& machine);
