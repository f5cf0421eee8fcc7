// Starting a join.
#include "forms/Formmain.h"

void TMainForm::ButtonJoinClick() {}
