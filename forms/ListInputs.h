#pragma once

#include "join/JoinInputs.h"

#include <vector>

class QTreeWidget;

// The list's rows as the join's inputs, in order; each with its chapter's title when the output
// gets chapters.
std::vector<tandrel::JoinInput> ListInputs(const QTreeWidget *list, bool chapters);
