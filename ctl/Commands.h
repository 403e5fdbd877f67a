#pragma once
// The commands of orbilanectl; each returns the program's exit status.

#include "ctl/CtlCommandLine.h"

namespace nms {

// The database the commands use: --database, or where the console keeps it.
QString CtlDatabasePath(const CtlArguments& arguments);

int RunList(const CtlArguments& arguments);
int RunShow(const CtlArguments& arguments);
int RunExport(const CtlArguments& arguments);
int RunDiscover(const CtlArguments& arguments);
int RunPing(const CtlArguments& arguments);
int RunLevel(const CtlArguments& arguments);
int RunSet(const CtlArguments& arguments);
int RunAttenuate(const CtlArguments& arguments);
int RunSaveConfig(const CtlArguments& arguments);
int RunApplyConfig(const CtlArguments& arguments);
int RunMonitor(const CtlArguments& arguments);
int RunCheck(const CtlArguments& arguments);
int RunHistory(const CtlArguments& arguments);
int RunAck(const CtlArguments& arguments);
int RunMaintenance(const CtlArguments& arguments);
int RunNotifyTest(const CtlArguments& arguments);

} // namespace nms
