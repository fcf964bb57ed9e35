#!/usr/bin/perl
# Reference administration script for Pictavo Studio.
#
# A links directory answers four form submissions (POST or GET) at one address. Every request carries
# the fields ZendiroAdminUserID and ZendiroAdminPassword, then "action":
#
#   PictavoLogin               "OK" when the credentials are right; any other text means they are wrong.
#   PictavoGetTotalLinksCount  "Count=" and the number of links in the directory.
#   PictavoImportLinksInfo     one "ID|URL" line (CR LF) per link chosen by ImportLinksMode (1 all, 2 submitted
#                              within LinksPeriod, 3 without a snapshot, 4 without a snapshot and submitted
#                              within LinksPeriod1). Periods are list indexes 0..15 (1 hour .. 12 months).
#   SnapshotUploadFiles        multipart/form-data; every file part (named UploadFile_<n>) is stored in the
#                              snapshots folder under its own file name. The reply lists what was stored.
#
# Wrong credentials: PictavoLogin answers 200 with "Invalid login"; every other action answers 403, so that
# a program never mistakes the refusal for data. Unknown actions answer 400.
#
# Configuration comes from the environment (the web server sets it):
#   PICTAVO_ADMIN_LINKS      the links file: one "ID|URL|Title|Submitted" line per link, Submitted in Unix seconds
#   PICTAVO_ADMIN_SNAPSHOTS  the folder that holds the uploaded snapshots, named <ID>.<extension>
#   PICTAVO_ADMIN_USER, PICTAVO_ADMIN_PASSWORD  the administrator's credentials
use strict;
use warnings;
use CGI;
use File::Basename qw(basename);
use File::Copy qw(copy);

$CGI::POST_MAX = -1;
$CGI::DISABLE_UPLOADS = 0;

my @PERIOD_SECONDS = map { $_ * 3600 } (1, 2, 3, 6, 12, 24, 48, 72, 168, 336, 504, 672, 2160, 4320, 6480, 8760);
my @SNAPSHOT_EXTENSIONS = qw(jpg gif png bmp tiff);
my $NOW = time();

my $q = CGI->new;

sub reply {
    my ($status, $body) = @_;
    print $q->header(-type => 'text/plain; charset=utf-8', -status => $status, -charset => '');
    print $body;
    exit 0;
}

# Calls $visit for every link of the links file, one at a time, so that a large directory is never held
# in memory. The file is opened before anything is sent, so a missing file can still answer 500.
sub open_links {
    my $file = $ENV{PICTAVO_ADMIN_LINKS} // '';
    open(my $fh, '<:raw', $file) or reply('500 Internal Server Error', "Cannot read the links file.\n");
    return $fh;
}

sub each_link {
    my ($fh, $visit) = @_;
    while (my $line = <$fh>) {
        $line =~ s/\r?\n\z//;
        next if $line eq '';
        my ($id, $url, $title, $submitted) = split /\|/, $line, 5;
        next unless defined $url;
        $visit->({ id => $id, url => $url, submitted => ($submitted // 0) =~ /\A\d+\z/ ? $submitted : 0 });
    }
    close $fh;
}

my $snapshot_ids;

# The snapshots folder is read once per request rather than probed once per link.
sub has_snapshot {
    my ($id) = @_;
    unless ($snapshot_ids) {
        $snapshot_ids = {};
        my $extensions = join '|', @SNAPSHOT_EXTENSIONS;
        if (opendir(my $dir, $ENV{PICTAVO_ADMIN_SNAPSHOTS} // '')) {
            for my $name (readdir $dir) {
                $snapshot_ids->{$1} = 1 if $name =~ /\A(.+)\.(?:$extensions)\z/;
            }
            closedir $dir;
        }
    }
    return exists $snapshot_ids->{$id};
}

sub within {
    my ($link, $index) = @_;
    $index = 5 unless defined $index && $index =~ /\A\d+\z/ && $index < @PERIOD_SECONDS;
    return $link->{submitted} >= $NOW - $PERIOD_SECONDS[$index];
}

sub import_links {
    my $mode = $q->param('ImportLinksMode') // '1';
    my $period = $q->param('LinksPeriod');
    my $period1 = $q->param('LinksPeriod1');
    my $fh = open_links();
    binmode STDOUT;
    print $q->header(-type => 'text/plain; charset=utf-8', -status => '200 OK', -charset => '');
    each_link($fh, sub {
        my ($link) = @_;
        my $chosen = $mode eq '2' ? within($link, $period)
            : $mode eq '3' ? !has_snapshot($link->{id})
            : $mode eq '4' ? !has_snapshot($link->{id}) && within($link, $period1)
            : 1;
        print "$link->{id}|$link->{url}\r\n" if $chosen;
    });
    exit 0;
}

sub upload_files {
    my $dir = $ENV{PICTAVO_ADMIN_SNAPSHOTS} // '';
    reply('500 Internal Server Error', "The snapshots folder does not exist.\n") unless -d $dir;
    my @report;
    for my $field (sort { ($a =~ /(\d+)\z/)[0] <=> ($b =~ /(\d+)\z/)[0] } grep { /\AUploadFile_\d+\z/ } $q->param) {
        my $name = $q->param($field);
        my $handle = $q->upload($field);
        next unless defined $handle;
        # Only the last path element, and never one that climbs out of the folder.
        $name = basename("$name");
        $name =~ s/[\\\/]//g;
        if ($name eq '' || $name eq '.' || $name eq '..') {
            push @report, "Refused $field: no usable file name";
            next;
        }
        my $target = "$dir/$name";
        my $partial = "$dir/.$name.part$$";
        if (copy($handle, $partial) && rename($partial, $target)) {
            push @report, "Saved $name (" . (-s $target) . " bytes)";
        } else {
            unlink $partial;
            push @report, "Failed $name: $!";
        }
    }
    reply('200 OK', @report ? join("\n", @report) . "\n" : "No files received.\n");
}

my $user = $q->param('ZendiroAdminUserID') // '';
my $password = $q->param('ZendiroAdminPassword') // '';
my $action = $q->param('action') // '';
my $authorised = $user eq ($ENV{PICTAVO_ADMIN_USER} // '') && $password eq ($ENV{PICTAVO_ADMIN_PASSWORD} // '')
    && ($ENV{PICTAVO_ADMIN_USER} // '') ne '';

if ($action eq 'PictavoLogin') {
    reply('200 OK', $authorised ? 'OK' : 'Invalid login');
}
reply('400 Bad Request', "Unknown action.\n")
    unless $action =~ /\A(?:PictavoGetTotalLinksCount|PictavoImportLinksInfo|SnapshotUploadFiles)\z/;
reply('403 Forbidden', "Invalid login.\n") unless $authorised;

if ($action eq 'PictavoGetTotalLinksCount') {
    # Counted as each_link would visit them: non-empty lines with at least an ID and a URL.
    my $fh = open_links();
    my $count = 0;
    while (my $line = <$fh>) {
        ++$count if index($line, '|') >= 0;
    }
    close $fh;
    reply('200 OK', "Count=$count");
} elsif ($action eq 'PictavoImportLinksInfo') {
    import_links();
} else {
    upload_files();
}
