# Reads one sound file and does nothing else: the baseline that compare.sh
# subtracts from the other scripts' processor time.
#   praat --run read_only.praat FILE.wav
form Read only
    sentence File
endform
sound = Read from file: file$
writeInfoLine: "Read from file", tab$, "0"
