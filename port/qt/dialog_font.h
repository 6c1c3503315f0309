// The font of a dialog template on Linux, where Windows' own dialog fonts
// are not installed.
#pragma once

#include <string>

#include <QFont>

namespace port {

// `faceName` and `pointSize` as the template's FONT statement gives them.
QFont DialogFont(const std::string &faceName, int pointSize);

}  // namespace port
