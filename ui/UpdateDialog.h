// The update window: a borderless skinned popup that starts the update run
// when it opens, repaints what the run marks and closes when the run ends.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "framework/Dialog.h"
#include "ui/SkinnedButton.h"
#include "ui/TextPainter.h"
#include "update/UpdateListener.h"

// The update window while it exists; null before and after.
extern std::atomic<HWND> g_hUpdateWnd;

// Marks a rectangle of the update window for repainting, background erased.
void InvalidateArea(int nLeft, int nTop, int nWidth, int nHeight);

class UpdateDialog : public CDialog, public UpdateListener {
public:
    UpdateDialog();
    ~UpdateDialog() override;

    // The caption; start-up sets it before DoModal, and finds a running
    // update window by it.
    std::string m_strTitle;
    // Names the product (its text before the first comma); start-up sets it.
    std::string m_strStartParam;
    SkinnedButton m_button;
    HICON m_hIcon = nullptr;
    TextPainter m_textLarge;  // every text of the face

    // From the run's threads: repaint requests and the closing post only.
    void OnAreaChanged(UpdateArea area) override;
    void OnRunEnded() override;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) override;
    // What the face shows now.
    virtual ProgressSnapshot CurrentProgress() const;

private:
    void FitToBackground();
    void SetUpButton();
    void StartUpdate();
    void OnPaint();
    void OnMouseMove(WPARAM nKeys, LPARAM lParam);
    void OnDestroy();
};
