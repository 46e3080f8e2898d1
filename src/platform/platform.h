#pragma once
// Every operation the helper asks of the operating system, by role. Each
// module takes only the roles it uses; the Win32 backend and the unit tests'
// fake implement them all. One operation per system call, so a test can make
// any single call fail.
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/grant_lock_service.h"
#include "platform/processes.h"
#include "platform/profile_service.h"
#include "platform/security.h"

namespace zub {

class Platform : public Console,
                 public Files,
                 public GrantLockService,
                 public Security,
                 public ProfileService,
                 public Processes,
                 public Environment {};

}  // namespace zub
