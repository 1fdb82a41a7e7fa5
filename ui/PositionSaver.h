#pragma once

#include "diag/Debug_Modul.h"

#include <QPointer>
#include <QWidget>
#include <string>

namespace ornbrook {

// Keeps a window's placement across runs in ProgramDir + name + ".pos": one line
// of the visible flag ("1"/"0"), the window state digit (0 normal, 1 minimised,
// 2 maximised) and the normal bounds as fractions of the screen, "X|Y_W|H".
// Fractions make the window come back in the same relative place and proportion
// on a screen of another resolution.
//
// A line of a single character (only a hand-edited file holds one) cannot say
// the state; it counts as no saved placement, like an empty line.
class PositionSaver final {
public:
    PositionSaver() = default;
    PositionSaver(const PositionSaver&) = delete;
    PositionSaver& operator=(const PositionSaver&) = delete;

    void SetFormName(const std::string& TheName) { FormName = TheName; }
    const std::string& GetFormName() const { return FormName; }
    void SetForm(QWidget* TheForm) { Form = TheForm; }

    // Restores visibility, normal bounds and window state from the file; a
    // missing file is created empty and leaves the window where it is.
    void LoadPosition();
    // Writes the placement; the bounds are the normal ones even when the window
    // is minimised or maximised.
    void SavePosition();

    std::string FileName() const;

private:
    LiveObject live_{"PositionSaver"};
    std::string FormName;
    QPointer<QWidget> Form;
};

} // namespace ornbrook
