# Renders a Markdown guide into a stand-alone HTML page (cmake -P):
#   cmake -DCMARK=<cmark-gfm> -DIN=<guide.md> -DOUT=<page.html> [-DCOPIES=<path|path>] -P RenderGuide.cmake
# The page carries its own small style sheet, so it reads well from a plain file beside the
# executables without anything else shipped.
execute_process(COMMAND "${CMARK}" --extension table --to html "${IN}"
                OUTPUT_VARIABLE body RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmark could not render ${IN}")
endif()
string(REGEX MATCH "<h1>([^<]*)</h1>" _ "${body}")
set(title "${CMAKE_MATCH_1}")
file(WRITE "${OUT}" "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<title>${title}</title>
<style>
body { font-family: 'Segoe UI', Tahoma, Arial, sans-serif; font-size: 15px; line-height: 1.5;
       max-width: 52em; margin: 2em auto; padding: 0 1.5em; color: #1f2328; }
h1 { font-size: 1.7em; border-bottom: 1px solid #d0d7de; padding-bottom: .3em; }
h2 { font-size: 1.35em; margin-top: 1.8em; border-bottom: 1px solid #d0d7de; padding-bottom: .2em; }
h3 { font-size: 1.1em; margin-top: 1.4em; }
code { font-family: Consolas, 'DejaVu Sans Mono', monospace; font-size: .92em;
       background: #f3f4f6; padding: .1em .3em; border-radius: 3px; }
pre { background: #f6f8fa; border: 1px solid #d0d7de; border-radius: 4px; padding: .8em 1em;
      overflow-x: auto; }
pre code { background: none; padding: 0; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #d0d7de; padding: .35em .7em; text-align: left; vertical-align: top; }
th { background: #f6f8fa; }
</style>
</head>
<body>
${body}</body>
</html>
")
string(REPLACE "|" ";" COPIES "${COPIES}")
foreach(copy IN LISTS COPIES)
  configure_file("${OUT}" "${copy}" COPYONLY)
endforeach()
