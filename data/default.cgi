#!/bin/sh
# Script companion of a split set. Placeholder: answers that the file is not
# served yet.
printf 'Status: 501 Not Implemented\r\nContent-Type: text/plain\r\n\r\n'
printf 'Serving split files is not available yet.\n'
