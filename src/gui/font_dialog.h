#pragma once

#include <cstdint>
#include <filesystem>

#include <QDialog>

#include "app/font_choice.h"
#include "common/program_values.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

// The chat font chooser: face, size and colour in one dialog. Only these three are kept in
// the chat font, so the dialog offers no other effects.
namespace mirka {

class ChatFontDialog : public QDialog {
public:
    ChatFontDialog(QWidget* owner, const LogFont& start, std::uint32_t color);

    // The starting record with the chosen face and height; an untouched size keeps the
    // starting height exactly.
    LogFont Chosen() const;
    std::uint32_t Color() const { return color; }
    void SetColor(std::uint32_t colorRef);

private:
    void PickColor();
    void UpdateSample();

    LogFont start;
    int startPoints;
    std::uint32_t color;
    QComboBox* faceBox = nullptr;
    QSpinBox* sizeBox = nullptr;
    QPushButton* colorButton = nullptr;
    QLabel* sample = nullptr;
};

// Runs the chooser from the chat font (with "Font.ini" laid over it, when readable) and, on
// OK, keeps the chosen face, height x 10 and colour in the chat font. Returns whether the
// user confirmed.
bool ChooseChatFont(QWidget* owner, ProgramValues& values,
                    const std::filesystem::path& fontIni = kFontIniName);

}  // namespace mirka
