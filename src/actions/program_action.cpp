#include "actions/program_action.h"

#include "app/folders.h"
#include "app/paths.h"

namespace cabsetup {

void PollingWaiter::WaitForExit(Os::Handle& process) {
    while (!os_.ProcessEnded(process)) os_.Sleep(100);
}

ProcessStart ProgramStartFor(const ActionContext& context, const ProgramRecord& record) {
    const CodePage& cp = context.os.Mbcs();
    ProcessStart start;
    start.application = record.programPath;
    start.commandLine = record.arguments;
    ExpandPlaceholders(cp, context.state, start.application, kExpandAllUsers);
    ExpandPlaceholders(cp, context.state, start.commandLine, kExpandAllUsers);
    start.currentDir = ParentFolder(cp, start.application);
    // Records written for the system default leave the field 0 (SW_HIDE):
    // honouring that would start every such program invisible.
    start.useShowCommand = record.showCommand != 0;
    start.showCommand = record.showCommand;
    return start;
}

bool RunProgram(const ActionContext& context, const ProgramRecord& record, ProgramWaiter& waiter) {
    ProcessStart start = ProgramStartFor(context, record);
    if (record.action != kProgramActionRun) return true;
    Os::HandlePtr process = context.os.CreateProcess(start);
    if (!process) return false;
    if (record.waitForExit) waiter.WaitForExit(*process);
    return true;
}

}  // namespace cabsetup
