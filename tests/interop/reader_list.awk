# reader_list.awk: prints the numbers of one bracketed list in a reader's text output, one a line.
#
# Usage: awk -v field=NAME -f reader_list.awk FILE
# Takes the first list that follows the word NAME and "[" (so "color Color {" is passed over
# and "color [" is taken); commas between values are dropped.

{
    gsub(/[][{},]/, " & ")
    for (k = 1; k <= NF; ++k) {
        token = $k
        if (state == "done")
            break
        if (state == "inside") {
            if (token == "]")
                state = "done"
            else if (token != ",")
                print token
            continue
        }
        if (previous == field && token == "[")
            state = "inside"
        previous = token
    }
}
