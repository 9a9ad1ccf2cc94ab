#pragma once
// The string table's texts as Qt strings.
#include <QString>

#include "base/strings.h"

inline QString UiText(int id)
{
    return QString::fromStdString(qev::LoadString(id));
}
