#!/usr/bin/env perl
# Reads the list of faults and applies one of them to the source tree.
#   mutate.pl count LIST
#   mutate.pl name LIST N
#   mutate.pl file LIST N
#   mutate.pl apply LIST N ROOT    (prints the file it changed; exit 3 if the old text is
#                                   not found exactly once, so a stale entry is never silent)
use strict;
use warnings;

my ($command, $list, $index, $root) = @ARGV;
open(my $in, '<:encoding(UTF-8)', $list) or die "$list: $!\n";
my @mutants;
while (my $line = <$in>) {
    chomp $line;
    next if $line =~ /^#/ || $line =~ /^\s*$/;
    if ($line =~ /^@ (.+)$/) {
        push @mutants, {name => $1, file => undef, old => [], new => []};
    } elsif ($line =~ /^file (.+)$/) {
        $mutants[-1]{file} = $1;
    } elsif ($line =~ /^-(?: (.*))?$/) {
        push @{$mutants[-1]{old}}, $1 // '';
    } elsif ($line =~ /^\+(?: (.*))?$/) {
        push @{$mutants[-1]{new}}, $1 // '';
    } else {
        die "$list:$.: not understood: $line\n";
    }
}

if ($command eq 'count') {
    print scalar(@mutants), "\n";
    exit 0;
}
my $mutant = $mutants[$index - 1] or die "no fault number $index\n";
if ($command eq 'name' || $command eq 'file') {
    print $command eq 'name' ? "$mutant->{name}\n" : "$mutant->{file}\n";
    exit 0;
}
die "unknown command $command\n" unless $command eq 'apply';

my $path = "$root/$mutant->{file}";
my $old = join("\n", @{$mutant->{old}});
my $new = join("\n", @{$mutant->{new}});
open(my $source, '<:raw:encoding(UTF-8)', $path) or die "$path: $!\n";
my $text = do { local $/; <$source> };
close $source;
my $at = index($text, $old);
if ($old eq '' || $at < 0 || index($text, $old, $at + 1) >= 0) {
    print STDERR "fault $index ($mutant->{name}): the old text is not in $mutant->{file} exactly once\n";
    exit 3;
}
substr($text, $at, length($old)) = $new;
open(my $out, '>:raw:encoding(UTF-8)', $path) or die "$path: $!\n";
print $out $text;
close $out;
print "$mutant->{file}\n";
