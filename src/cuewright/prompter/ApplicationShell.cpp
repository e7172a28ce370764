#include "cuewright/prompter/ApplicationShell.h"

namespace cw {

namespace {

std::weak_ptr<ApplicationShell>& sharedShell() {
    static std::weak_ptr<ApplicationShell> shell;
    return shell;
}

} // namespace

std::shared_ptr<ApplicationShell> ApplicationShell::shared() {
    return sharedShell().lock();
}

void ApplicationShell::setShared(std::weak_ptr<ApplicationShell> shell) {
    sharedShell() = std::move(shell);
}

} // namespace cw
