// The program's icon, drawn the same as resources/daziziz.svg (which desktops use): a strip of
// film with an arrow leading out of it, on a blue tile.
#pragma once

#include <QIcon>

QIcon ApplicationIcon();
