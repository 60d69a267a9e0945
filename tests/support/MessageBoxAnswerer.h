#pragma once
#include <windows.h>

#include <string>

// Runs a program and answers the first message box it shows with a given caption: reads the box's text
// and presses its OK button, as a user would. Other windows of the program (a main dialog) are closed
// when asked to, so that a program that went on past the box still ends.
class MessageBoxAnswerer {
public:
    struct Outcome {
        int exitCode = -1000;   // -1000: could not start; -1001: timed out (the program was ended)
        bool boxSeen = false;
        std::wstring boxText;
    };

    explicit MessageBoxAnswerer(std::wstring caption) : caption_(std::move(caption)) {}

    Outcome Run(const std::wstring& exe, const std::wstring& currentDirectory, bool closeOtherWindows = false,
                DWORD timeoutMs = 60000, const std::wstring& arguments = std::wstring()) const;

private:
    HWND FindWindowOf(HDESK desktop, DWORD processId, bool withCaption) const;
    static std::wstring ReadText(HWND box);

    std::wstring caption_;
};
