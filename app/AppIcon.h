// The application and tray icon, drawn at run time so that no image file has to be found.
#pragma once

#include <QIcon>

QIcon ApplicationIcon();
