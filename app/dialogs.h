#pragma once
// The window's modal questions and messages, replaceable so that tests can
// answer them without a person at the screen.

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

namespace pw {

enum class MessageKind { Information, Failure };

// Answers the chosen folder as file-system bytes, or empty when cancelled.
using FolderChooser =
    std::function<std::string(QWidget* parent, const QString& title, const std::string& start)>;
using MessageSink = std::function<void(QWidget* parent, MessageKind kind, const QString& text)>;
using QuestionSink = std::function<bool(QWidget* parent, const QString& text)>;

std::string ChooseFolder(QWidget* parent, const QString& title, const std::string& start);
void ShowMessage(QWidget* parent, MessageKind kind, const QString& text);
// A yes/no question; answers true for yes.
bool AskYesNo(QWidget* parent, const QString& text);

// Empty functions restore the real dialogs.
void SetFolderChooser(FolderChooser chooser);
void SetMessageSink(MessageSink sink);
void SetQuestionSink(QuestionSink sink);

}  // namespace pw
