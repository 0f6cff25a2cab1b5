// One program of the setup script: started with the record's command line,
// and waited for when the record asks.
#pragma once

#include "actions/action_context.h"
#include "formats/setup_script.h"

namespace cabsetup {

// How the caller waits for a started program: the wizard keeps its window
// alive through an invisible modal dialog, tests poll.
class ProgramWaiter {
public:
    virtual ~ProgramWaiter() = default;
    // Returns when the process has ended.
    virtual void WaitForExit(Os::Handle& process) = 0;
};

// Polls ProcessEnded until it says so; for callers that have no window.
class PollingWaiter final : public ProgramWaiter {
public:
    explicit PollingWaiter(Os& os) : os_(os) {}
    void WaitForExit(Os::Handle& process) override;

private:
    Os& os_;
};

constexpr std::int32_t kProgramActionRun = 2;

// The start-up values of one record: placeholders expanded, the current
// folder the program's own, showCommand honoured when it is not 0.
ProcessStart ProgramStartFor(const ActionContext& context, const ProgramRecord& record);

// True when the program started (and ended, if waited for) or the record
// asks for nothing; false when it could not be started.
bool RunProgram(const ActionContext& context, const ProgramRecord& record, ProgramWaiter& waiter);

}  // namespace cabsetup
