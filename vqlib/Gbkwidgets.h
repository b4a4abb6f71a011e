#pragma once
// The widget side of the GBK text layer.

#include <QString>

#include <optional>
#include <string>

class QLineEdit;

QString FromGbk(const std::string& gbk);
// nullopt when the text holds a character GBK cannot represent.
std::optional<std::string> ToGbk(const QString& text);
// Lets the edit hold at most maxBytes of GBK text and refuses characters GBK
// cannot hold, dropping such input whole. Input that would pass the limit
// (a paste) goes in as far as it fits, cut at a whole character.
void LimitGbkEdit(QLineEdit* edit, int maxBytes);
