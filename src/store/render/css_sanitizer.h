// Style sheets of mail made safe: nothing in them may fetch anything or run anything. Comments
// and escapes are undone first ("@imp\ort", "@\69mport", "u\rl(" are what the browser reads as
// "@import" and "url("), every declaration and rule is judged in that decoded form, and that
// form is what is written out, so the browser reads exactly what was judged.
#pragma once

#include <string>

namespace render {

// The declarations of a style attribute ("color: red; background: url(x)") that fetch and run
// nothing, decoded; empty when none is left.
std::string SanitizeCssDeclarations(const std::string& css);

// A style sheet (the text of a <style> element): its rules with only such declarations, and of
// its at-rules only @media (its rules judged the same way); no @import, @font-face or any other.
std::string SanitizeStyleSheet(const std::string& css);

// CSS with its comments removed and its escapes decoded (a backslash left over from an escaped
// backslash is dropped, so that nothing decodes twice).
std::string DecodeCss(const std::string& css);

}  // namespace render
