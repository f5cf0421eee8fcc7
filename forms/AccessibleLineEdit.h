#pragma once

// Makes a read-only line edit tell assistive technology that it only reads: Qt's own interface
// for line edits calls every one editable. Installing twice does no harm.
void InstallReadOnlyLineEditAccessible();
