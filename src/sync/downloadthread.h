#pragma once

// CONTRACT SKETCH: the names the main window uses. The implementer of
// src/sync keeps them and may add more.

#include "app/constants.h"
#include "sync/synchost.h"

#include <array>
#include <cstdint>
#include <string>

namespace vexor::sync {

// class TDownloadThread {
// public:
//   TDownloadThread(vexor::Constants& shared, SyncHost& host);  // idle; no cycle runs
//   ~TDownloadThread();                                          // Shutdown() if not done
//
//   // Connect request (CM_TRYCONNECT): wakes an idle thread for exactly one
//   // cycle; ignored (returns false) while a cycle runs or after Shutdown.
//   bool TryConnect();
//   bool Idle() const;
//
//   // Main thread: runs the PrepareSync/FinishSync step the worker waits for,
//   // if any. Called by the host after RequestMainThreadTurn().
//   void RunPendingStep();
//
//   // Main thread, once: stop flag, Abort of the running request, wait unless
//   // idle; the wait keeps running pending main-thread steps.
//   void Shutdown();
//
//   // Fields copied by PrepareSync and taken back by FinishSync (worker's copies):
//   std::string LangIndexFile, ClientId, UserId, LanguageName, ModulesListFile;
//   std::array<std::string, 10> BannerIds;
//   std::array<std::int32_t, 10> BannerCounts;
//   std::int32_t RotationInterval;
//   std::string LogoDir, BannerDir;
//   std::int32_t StartUps;
//   bool InstallFlag;
//   bool NewerVersion;     // false when created
//   int Progress() const;  // the gauge, 0..100
// };

}  // namespace vexor::sync
