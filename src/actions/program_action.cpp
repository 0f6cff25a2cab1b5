#include "actions/program_action.h"

#include "app/folders.h"
#include "app/paths.h"
#include "runlog/run_log.h"

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
    if (!process) {
        LogFailure("starting the program", start.application + " " + start.commandLine, context.os.LastError());
        return false;
    }
    if (!record.waitForExit) {
        LogLine("program started, not waited for: " + start.application + " " + start.commandLine);
        return true;
    }
    waiter.WaitForExit(*process);
    std::uint32_t code = 0;
    if (RunLogOn())
        LogLine("program ended: " + start.application + " " + start.commandLine + ", exit code " +
                (context.os.ProcessExitCode(*process, code) ? std::to_string(code) : std::string("unknown")));
    return true;
}

}  // namespace cabsetup
