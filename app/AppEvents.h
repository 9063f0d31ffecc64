// The names of the program's three named events.
#pragma once

namespace appevents {

// Set by a second start: the running instance opens its settings window.
inline constexpr const char* kInstance = "Quillfence Pro-{5E0C41A7-93D2-4B6E-8F17-2C9A6D04B3E8}";
// Set by "quillfnc -stop": the running instance stops at once.
inline constexpr const char* kStopRequest =
    "Quillfence Pro-{5E0C41A7-93D2-4B6E-8F17-2C9A6D04B3E8}-Exit";
// The application stop event (manual reset): set at shutdown, and by any
// process that wants the instance to stop once no settings window is open.
inline constexpr const char* kApplicationStop =
    "Quillfence-Pro-{5E0C41A7-93D2-4B6E-8F17-2C9A6D04B3E8}-Exit";

} // namespace appevents
