#pragma once
#include <string>

enum class FileRemoval { Deleted, Missing, DeletedAtRestart, Failed };

// Clears the hidden, read-only and system attributes and deletes the file; a file the system will not
// let go of now is deleted at the next restart. The attributes come back when neither works.
FileRemoval RemoveFileNowOrAtRestart(const std::wstring& path);

// Moves a file that cannot be read aside at the next restart (same folder, so the move cannot cross
// volumes). False when the move cannot be scheduled.
bool MoveFileAsideAtRestart(const std::wstring& path, const std::wstring& target);
