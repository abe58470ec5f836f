#include "tavlo/Tavlo.h"

void Tavlo::BuildEditor()
{
}
