#pragma once

// True for a 32-bit process on 64-bit Windows (asked at run time: the query is missing before XP SP2).
bool RunsUnderWow64();
