# What varies from run to run: times, rates, dates, the version.
s/Time=[0-9.]*/Time=*/g
s/Mb\/Sec=[0-9.]*/Mb\/Sec=*/g
s/MB\/Sec=[0-9.]*/MB\/Sec=*/g
s/Rate=[0-9]* Files/Rate=* Files/g
s/^\(kestra-cli\) [0-9][0-9.]*$/\1 VERSION/
# The repair tool is named where $PATH finds it.
s| /[^ ]*/fsck\.fat| PATH/fsck.fat|g
s|[0-9]\{1,2\}/[0-9]\{1,2\}/[0-9]\{4\} [0-9]\{1,2\}:[0-9][0-9]:[0-9][0-9] [AP]M|M/D/YYYY H:MM:SS ?M|g
# The records' folder: its last part is a hash that takes in the volume's path.
s/\(volumes\/[^/ ]*_\)[0-9A-F]\{16\}/\1HASH/g
# Records end their lines with CR LF; shown, so git keeps them as they are.
s/\r$/\\r/
# A dry run's estimate and the rates it measured (holes where the file system has them).
/^Estimated time: /s/, into holes [0-9]* MB\/s//
/^Estimated time: /s/[0-9][0-9.]*/N/g
