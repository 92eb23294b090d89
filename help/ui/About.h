// The about message: three lines kept scrambled in the program and shown in the "SONALTO" box.
#pragma once

#include <QString>
#include <string>
#include <string_view>

class QWidget;

// The plain text of a stored string: byte i is the stored byte less the key's byte, taken in turn and
// from the start again after the key's last byte, modulo 256. An empty key leaves the text as it is.
std::string Unscramble(std::string_view key, std::string_view stored);

// The three lines of the about message, joined by line feeds.
QString AboutText();

// The caption of the about box.
inline constexpr const char* AboutCaption = "SONALTO";

// The about message in a box with the caption "SONALTO" and an OK button (menu item "A propos de Sonalto").
void AproposdeSonalto1Click(QWidget* parent);
