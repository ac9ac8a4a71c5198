// The product's name as the window's caption and the about box show it.
#pragma once

inline constexpr const char* kMainCaption = "Daziziz Izaza Zivudadov";
