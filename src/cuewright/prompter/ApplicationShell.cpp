#include "cuewright/prompter/ApplicationShell.h"

#include "dispatch/MainThreadChecker.h"

namespace cw {

namespace {

std::weak_ptr<ApplicationShell>& sharedShell() {
    static std::weak_ptr<ApplicationShell> shell;
    return shell;
}

} // namespace

std::shared_ptr<ApplicationShell> ApplicationShell::shared() {
    CW_DCHECK_MAIN_THREAD();
    return sharedShell().lock();
}

void ApplicationShell::setShared(std::weak_ptr<ApplicationShell> shell) {
    CW_DCHECK_MAIN_THREAD();
    sharedShell() = std::move(shell);
}

} // namespace cw
