// Message boxes, and what stands in for one where nobody could answer it.
#pragma once

#include <string>

#include "wmi/platform.h"

// True when this process's window station is visible (WSF_VISIBLE), so that
// someone can see a box and click it away. False for a service's children,
// start-up scripts, deployment agents and scheduled tasks that run in
// session 0, and when the window station cannot be asked. Asked once per
// process.
bool InteractiveDesktop();

// With an interactive desktop: a message box with no owner window, `caption`
// (nullptr: the system's own, "Error"), the buttons and icon of `type`,
// returning once it is closed. Without one, nothing waits: the log gets the
// line "Message box (not shown, no interactive desktop): CAPTION: TEXT", or,
// when the log cannot take it, the Application event log gets the same text
// as a warning of the source "Model"; the run goes on as if OK was pressed.
void ShowMessage(const std::string& text, const char* caption = nullptr,
                 UINT type = MB_OK);
