// The update window: a borderless skinned popup that starts the update run
// when it opens, repaints what the run marks and closes when the run ends.
#pragma once

#include <windows.h>

#include <string>

#include "framework/Dialog.h"
#include "ui/SkinnedButton.h"

class UpdateDialog : public CDialog {
public:
    UpdateDialog();
    ~UpdateDialog() override;

    // The caption; start-up sets it before DoModal, and finds a running
    // update window by it.
    std::string m_strTitle;
    SkinnedButton m_button;
    HICON m_hIcon = nullptr;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) override;

private:
    void FitToBackground();
    void SetUpButton();
    void StartUpdate();
    void OnPaint();
    void OnMouseMove(WPARAM nKeys, LPARAM lParam);
    void OnDestroy();
};
