// Basic passwords, checked against the system's accounts through PAM.
#include <cstdlib>
#include <cstring>
#include <security/pam_appl.h>
#include <string>

#include "scheduler/auth/auth.h"
#include "scheduler/conf/conf.h"
#include "scheduler/log.h"

namespace {

struct pam_data_t {
  const std::string* user;
  const std::string* password;
};

// Answers hidden prompts with the password and visible ones with the user
// name; error and information messages get no answer; anything else fails.
int conversation(int count, const pam_message** messages, pam_response** responses, void* appdata) {
  if (count <= 0 || !messages || !responses) return PAM_CONV_ERR;
  auto* data = static_cast<pam_data_t*>(appdata);
  auto* replies = static_cast<pam_response*>(std::calloc(size_t(count), sizeof(pam_response)));
  if (!replies) return PAM_CONV_ERR;
  for (int i = 0; i < count; i++) {
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_ON:
        replies[i].resp = ::strdup(data->user->c_str());
        break;
      case PAM_PROMPT_ECHO_OFF:
        replies[i].resp = ::strdup(data->password->c_str());
        break;
      case PAM_TEXT_INFO:
      case PAM_ERROR_MSG:
        break;
      default:
        for (int j = 0; j < i; j++) {
          if (replies[j].resp) {
            std::memset(replies[j].resp, 0, std::strlen(replies[j].resp));
            std::free(replies[j].resp);
          }
        }
        std::free(replies);
        return PAM_CONV_ERR;
    }
  }
  *responses = replies;
  return PAM_SUCCESS;
}

// The scheduler serves every client from one thread: the pause PAM modules
// ask for after a wrong password would stall them all, so any client could
// hold the whole service up with bad passwords.
void no_fail_delay(int, unsigned, void*) {}

}  // namespace

bool CheckPamPassword(const std::string& user, const std::string& password) {
  pam_data_t data{&user, &password};
  pam_conv conv{conversation, &data};
  pam_handle_t* pamh = nullptr;
  int status = ::pam_start(PAMService.c_str(), user.c_str(), &conv, &pamh);
  if (status != PAM_SUCCESS) {
    LogDiagnostic(L_ERROR, "IsAuthorized: pam_start() returned %d (%s)!\n", status,
                  ::pam_strerror(pamh, status));
    if (pamh) ::pam_end(pamh, status);
    return false;
  }
#ifdef PAM_FAIL_DELAY
  ::pam_set_item(pamh, PAM_FAIL_DELAY, reinterpret_cast<const void*>(&no_fail_delay));
#endif
  status = ::pam_authenticate(pamh, PAM_SILENT);
  if (status != PAM_SUCCESS) {
    LogDiagnostic(L_ERROR, "IsAuthorized: pam_authenticate() returned %d (%s)!\n", status,
                  ::pam_strerror(pamh, status));
    ::pam_end(pamh, status);
    return false;
  }
  status = ::pam_acct_mgmt(pamh, PAM_SILENT);
  if (status != PAM_SUCCESS) {
    LogDiagnostic(L_ERROR, "IsAuthorized: pam_acct_mgmt() returned %d (%s)!\n", status,
                  ::pam_strerror(pamh, status));
    ::pam_end(pamh, status);
    return false;
  }
  ::pam_end(pamh, PAM_SUCCESS);
  return true;
}
