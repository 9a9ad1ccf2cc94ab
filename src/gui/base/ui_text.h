#pragma once
// The string table's texts as Qt strings.
#include <QString>

#include "core/base/strings.h"

inline QString UiText(int id)
{
    return QString::fromStdString(qev::LoadString(id));
}
