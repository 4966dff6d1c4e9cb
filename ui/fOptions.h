// The Setup dialog: network adapter, LAN or direct connection, password, extra time-out
// and retries, and the debug log switch with the path of the log.
#pragma once

#include <QDialog>
#include <memory>

#include "comm/uEthernetUtils.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TfmOptions : public QDialog {
  Q_OBJECT

 public:
  explicit TfmOptions(QWidget* parent = nullptr);
  ~TfmOptions() override;

  // In before the dialog is shown, out after it closed with OK (Cancel leaves them).
  std::string EthernetAdapterID;
  bool DirectConnection = false;
  // The dialog keeps this one itself from one showing to the next; off at every start.
  bool CreateDebugLogs = false;
  bool ExtraRetries = false;
  bool ExtraTimeout = false;
  std::string Password;

  // The fields into the controls, with the adapter list made anew from the host. An
  // adapter ID the host does not have at present gets an entry of its own after the
  // host's, "eth7 (not present)", and stays selected.
  void FillControls();
  // The controls into the fields; that entry gives its ID back unchanged.
  void ReadControls();
  // The debug log's path under its check box.
  void ShowDebugLogFile();

  const TEthernetAdapterInfoList& EthAdapters() const { return *fEthAdapters; }
  QComboBox* cbEthAdapter() const { return fCbEthAdapter; }
  QRadioButton* rbLAN() const { return fRbLAN; }
  QRadioButton* rbDirect() const { return fRbDirect; }
  QLineEdit* edPassword() const { return fEdPassword; }
  QCheckBox* cbExtraTimeout() const { return fCbExtraTimeout; }
  QCheckBox* cbExtraRetries() const { return fCbExtraRetries; }
  QCheckBox* cbCreateDebugLogs() const { return fCbCreateDebugLogs; }
  // Where the debug log goes (the whole path is its hint).
  QLabel* lblDebugLogFile() const { return fLblDebugLogFile; }
  QPushButton* btnOK() const { return fBtnOK; }
  QPushButton* btnCancel() const { return fBtnCancel; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<TEthernetAdapterInfoList> fEthAdapters;
  // The ID behind the entry of an adapter that is not present; empty without one.
  std::string fAbsentAdapterID;
  QComboBox* fCbEthAdapter;
  QRadioButton* fRbLAN;
  QRadioButton* fRbDirect;
  QLineEdit* fEdPassword;
  QCheckBox* fCbExtraTimeout;
  QCheckBox* fCbExtraRetries;
  QCheckBox* fCbCreateDebugLogs;
  QLabel* fLblDebugLogFile;
  QPushButton* fBtnOK;
  QPushButton* fBtnCancel;
};
