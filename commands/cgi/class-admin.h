// The class part of admin.cgi: the classes with their controls, the form
// that makes or changes a class from the printers (checkboxes), and the
// posts that change classes: add-class (new or changed members),
// start-class, stop-class, accept-class, reject-class and delete-class
// (which asks once more first).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cgi-common.h"

namespace vorn::cgi {

// The classes table and the form for a new class; `printers` are the names
// offered as members.
void ClassSection(page_t& page, session_t& session, const std::vector<std::string>& printers);

// The page of GET /admin?op=modify-class&class_name=X: the class's form
// with its members checked.
int ClassFormPage(session_t& session, const form_t& form);

// Whether `op` is one of the class posts above.
bool IsClassOp(std::string_view op);

// Carries out a class post whose token has been checked; the outcome goes
// on `page` as a notice (or the question before a deletion).
void ChangeClass(session_t& session, const form_t& form, page_t& page);

}  // namespace vorn::cgi
